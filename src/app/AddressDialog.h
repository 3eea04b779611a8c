#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace vandrel::app {

// Asks for the address of "File > Connect to Address...": a modal input box that offers
// the text given (the last address typed). Returns the text entered, or nothing when the
// user cancelled. Goes through AddressDialogSeam when a handler is installed.
std::optional<QString> AskConnectAddress(QWidget* parent, const QString& offered);

// Lets tests answer the address box without showing it: the handler gets the offered text
// and returns what the user types, or nothing to cancel.
class AddressDialogSeam {
public:
    using THandler = std::function<std::optional<QString>(const QString& offered)>;
    static void SetHandler(THandler handler);
    static void Reset();
};

}  // namespace vandrel::app
