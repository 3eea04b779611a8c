#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "app/Seam.h"

class QWidget;

namespace vandrel::app {

// Asks for the address of "File > Connect to Address...": a modal input box that offers
// the text given (the last address typed), with recent (the addresses typed before, newest
// first) in a drop-down when there are any. Returns the text entered, or nothing when the
// user cancelled. Goes through AddressDialogSeam when a handler is installed.
std::optional<QString> AskConnectAddress(QWidget* parent, const QString& offered,
                                         const QStringList& recent = {});

// Lets tests answer the address box without showing it: the handler gets the offered text
// and returns what the user types, or nothing to cancel.
class AddressDialogSeam
    : public Seam<AddressDialogSeam,
                  std::function<std::optional<QString>(const QString& offered)>> {};

}  // namespace vandrel::app
