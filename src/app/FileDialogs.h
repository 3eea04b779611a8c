#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "app/Seam.h"

class QFileDialog;

namespace vandrel::app {

// Sets a dialog up for session log files: title "Save Log Files", the filters
// "Log Files (*.txt)" and "All Files (*.*)", default extension "txt".
void SetLogFileDialog(QFileDialog* dialog);

// Runs a file dialog modally and returns the chosen file (full path), or nothing when the
// user cancelled. Goes through FileDialogSeam when a handler is installed.
std::optional<QString> RunFileDialog(QFileDialog* dialog);

// Lets tests answer file dialogs without showing them. The handler gets the dialog as the
// program configured it (title, filters, the file name offered) and returns the chosen
// file, or nothing to cancel.
class FileDialogSeam
    : public Seam<FileDialogSeam, std::function<std::optional<QString>(QFileDialog& dialog)>> {};

}  // namespace vandrel::app
