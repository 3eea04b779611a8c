#include "app/AddressDialog.h"

#include <QInputDialog>

#include <utility>

namespace vandrel::app {

namespace {

AddressDialogSeam::THandler& Handler() {
    static AddressDialogSeam::THandler handler;
    return handler;
}

}  // namespace

void AddressDialogSeam::SetHandler(THandler handler) {
    Handler() = std::move(handler);
}

void AddressDialogSeam::Reset() {
    Handler() = nullptr;
}

std::optional<QString> AskConnectAddress(QWidget* parent, const QString& offered) {
    if (Handler()) {
        const AddressDialogSeam::THandler handler = Handler();
        return handler(offered);
    }
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Connect to Address"));
    dialog.setLabelText(QStringLiteral("IPv4 address or host name of the device:"));
    dialog.setTextValue(offered);
    dialog.setInputMode(QInputDialog::TextInput);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

}  // namespace vandrel::app
