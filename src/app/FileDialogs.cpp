#include "app/FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

#include <utility>

namespace vandrel::app {

namespace {

FileDialogSeam::THandler& Handler() {
    static FileDialogSeam::THandler handler;
    return handler;
}

}  // namespace

void SetLogFileDialog(QFileDialog* dialog) {
    dialog->setWindowTitle(QStringLiteral("Save Log Files"));
    dialog->setNameFilters(
        {QStringLiteral("Log Files (*.txt)"), QStringLiteral("All Files (*.*)")});
    dialog->selectNameFilter(QStringLiteral("Log Files (*.txt)"));
    dialog->setDefaultSuffix(QStringLiteral("txt"));
}

std::optional<QString> RunFileDialog(QFileDialog* dialog) {
    if (Handler()) {
        // A copy: the handler may replace itself while it runs.
        const FileDialogSeam::THandler handler = Handler();
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

void FileDialogSeam::SetHandler(THandler handler) {
    Handler() = std::move(handler);
}

void FileDialogSeam::Reset() {
    Handler() = nullptr;
}

}  // namespace vandrel::app
