#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "app/Seam.h"

class QWidget;

namespace vandrel::app {

// Asks for the address of "File > Connect to Address...": a modal input box that offers
// the text given (the last address typed). Returns the text entered, or nothing when the
// user cancelled. Goes through AddressDialogSeam when a handler is installed.
std::optional<QString> AskConnectAddress(QWidget* parent, const QString& offered);

// Lets tests answer the address box without showing it: the handler gets the offered text
// and returns what the user types, or nothing to cancel.
class AddressDialogSeam
    : public Seam<AddressDialogSeam,
                  std::function<std::optional<QString>(const QString& offered)>> {};

}  // namespace vandrel::app
