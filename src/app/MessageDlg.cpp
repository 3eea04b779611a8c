#include "app/MessageDlg.h"

#include <QMessageBox>
#include <QPushButton>

namespace vandrel::app {

MessageAnswer MessageDlg(QWidget* parent, const QString& text, MessageKind type) {
    if (const auto handler = MessageDlgSeam::Current()) {
        return handler(type, text);
    }
    QMessageBox box(parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QPushButton* ok = nullptr;
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    if (type == MessageKind::Error) {
        box.setWindowTitle(QStringLiteral("Fehler"));
        box.setIcon(QMessageBox::Critical);
        ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
    } else {
        box.setWindowTitle(QStringLiteral("Bestätigung"));
        box.setIcon(QMessageBox::Question);
        yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
    }
    box.exec();
    const auto* clicked = box.clickedButton();
    if (clicked != nullptr && clicked == ok) {
        return MessageAnswer::Ok;
    }
    if (clicked != nullptr && clicked == yes) {
        return MessageAnswer::Yes;
    }
    if (clicked != nullptr && clicked == no) {
        return MessageAnswer::No;
    }
    return MessageAnswer::NoAnswer;
}

}  // namespace vandrel::app
