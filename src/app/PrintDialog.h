#pragma once

#include <functional>

class QPrinter;
class QWidget;

namespace vandrel::app {

// Runs the print dialog for printer modally; true when the user confirmed (the printer then
// holds the choices made). Goes through PrintDialogSeam when a handler is installed.
bool RunPrintDialog(QPrinter& printer, QWidget* parent);

// Lets tests answer the print dialog without showing it: the handler sets the printer up
// (an output file, say) and returns whether to print.
class PrintDialogSeam {
public:
    using THandler = std::function<bool(QPrinter& printer)>;
    static void SetHandler(THandler handler);
    static void Reset();
};

}  // namespace vandrel::app
