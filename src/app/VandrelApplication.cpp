#include "app/VandrelApplication.h"

#include "app/AppIcon.h"
#include "app/MessageDlg.h"

namespace vandrel::app {

void ShowException(const std::exception& error) {
    // Error texts are 8-bit text, one character per byte.
    MessageDlg(QApplication::activeWindow(), QString::fromLatin1(error.what()), MessageKind::Error);
}

void ShowUnknownException() {
    MessageDlg(QApplication::activeWindow(), QStringLiteral("Unknown error"), MessageKind::Error);
}

VandrelApplication::VandrelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setWindowIcon(AppIcon());
    // The installed desktop entry's name: a Wayland desktop matches windows to it by this id.
    setDesktopFileName(QStringLiteral("org.vandrel.Vandrel"));
}

bool VandrelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowUnknownException();
    }
    return false;
}

}  // namespace vandrel::app
