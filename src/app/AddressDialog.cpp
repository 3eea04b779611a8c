#include "app/AddressDialog.h"

#include <QInputDialog>

namespace vandrel::app {

std::optional<QString> AskConnectAddress(QWidget* parent, const QString& offered,
                                         const QStringList& recent) {
    if (const auto handler = AddressDialogSeam::Current()) {
        return handler(offered);
    }
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Connect to Address"));
    dialog.setLabelText(QStringLiteral("IPv4 address or host name of the device:"));
    dialog.setTextValue(offered);
    dialog.setInputMode(QInputDialog::TextInput);
    if (!recent.isEmpty()) {
        dialog.setComboBoxItems(recent);
        dialog.setComboBoxEditable(true);
        dialog.setTextValue(offered);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

}  // namespace vandrel::app
