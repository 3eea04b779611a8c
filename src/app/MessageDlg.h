#pragma once

#include <QString>

#include <functional>

#include "app/Seam.h"

class QWidget;

namespace vandrel::app {

// The two kinds of message box the program shows: an error box with "OK" (caption
// "Fehler") and a confirmation box with "&Ja" / "&Nein" (caption "Bestätigung").
enum class MessageKind { Error, Confirmation };
enum class MessageAnswer { NoAnswer, Ok, Yes, No };

// Shows a modal message box and returns the button chosen (NoAnswer when it was closed
// otherwise). Goes through MessageDlgSeam when a handler is installed.
MessageAnswer MessageDlg(QWidget* parent, const QString& text, MessageKind type);

// Lets tests answer message boxes without showing them. The handler is called instead of
// the box, on the GUI thread, and its result is returned to the caller.
class MessageDlgSeam
    : public Seam<MessageDlgSeam,
                  std::function<MessageAnswer(MessageKind type, const QString& text)>> {};

}  // namespace vandrel::app
