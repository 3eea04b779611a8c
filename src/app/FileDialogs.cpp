#include "app/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace vandrel::app {

void SetLogFileDialog(QFileDialog* dialog) {
    dialog->setWindowTitle(QStringLiteral("Save Log Files"));
    dialog->setNameFilters(
        {QStringLiteral("Log Files (*.txt)"), QStringLiteral("All Files (*.*)")});
    dialog->selectNameFilter(QStringLiteral("Log Files (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
}

std::optional<QString> RunFileDialog(QFileDialog* dialog) {
    if (const auto handler = FileDialogSeam::Current()) {
        return handler(*dialog);
    }
    if (dialog->exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) {
        return std::nullopt;
    }
    return files.front();
}

}  // namespace vandrel::app
