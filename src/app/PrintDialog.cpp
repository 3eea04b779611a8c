#include "app/PrintDialog.h"

#include <QPrintDialog>
#include <QPrinter>

#include <utility>

namespace vandrel::app {

namespace {

PrintDialogSeam::THandler& Handler() {
    static PrintDialogSeam::THandler handler;
    return handler;
}

}  // namespace

void PrintDialogSeam::SetHandler(THandler handler) {
    Handler() = std::move(handler);
}

void PrintDialogSeam::Reset() {
    Handler() = nullptr;
}

bool RunPrintDialog(QPrinter& printer, QWidget* parent) {
    if (Handler()) {
        const PrintDialogSeam::THandler handler = Handler();
        return handler(printer);
    }
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace vandrel::app
