#include "app/PrintDialog.h"

#include <QPrintDialog>
#include <QPrinter>

namespace vandrel::app {

bool RunPrintDialog(QPrinter& printer, QWidget* parent) {
    if (const auto handler = PrintDialogSeam::Current()) {
        return handler(printer);
    }
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace vandrel::app
