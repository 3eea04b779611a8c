#include "app/AddressDialog.h"

#include <QInputDialog>

namespace vandrel::app {

std::optional<QString> AskConnectAddress(QWidget* parent, const QString& offered) {
    if (const auto handler = AddressDialogSeam::Current()) {
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
