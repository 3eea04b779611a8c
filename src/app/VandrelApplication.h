#pragma once

#include <QApplication>

#include <exception>
#include <utility>

namespace vandrel::app {

// The application's default error report: a message box ("Fehler", OK) with the error's
// text; the program goes on afterwards.
void ShowException(const std::exception& error);
void ShowUnknownException();

// Runs a command handler so that no error leaves it: an error is shown by the default
// error report. Every handler that Qt calls goes through this.
template <typename Handler>
void RunGuarded(Handler&& handler) {
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowUnknownException();
    }
}

// The program's QApplication. Its notify is a last line of defence: an error that escapes
// an event handler is reported like one from a command handler instead of unwinding
// through the event loop.
class VandrelApplication : public QApplication {
public:
    VandrelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vandrel::app
