#pragma once

#include <functional>

#include "app/Seam.h"

class QPrinter;
class QWidget;

namespace vandrel::app {

// Runs the print dialog for printer modally; true when the user confirmed (the printer then
// holds the choices made). Goes through PrintDialogSeam when a handler is installed.
bool RunPrintDialog(QPrinter& printer, QWidget* parent);

// Lets tests answer the print dialog without showing it: the handler sets the printer up
// (an output file, say) and returns whether to print.
class PrintDialogSeam : public Seam<PrintDialogSeam, std::function<bool(QPrinter& printer)>> {};

}  // namespace vandrel::app
