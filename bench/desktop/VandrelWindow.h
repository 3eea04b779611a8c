#pragma once

// Helpers for the benchmarks that drive Vandrel's window in their own process (link
// vandrel_app).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>

#include <string>

#include "app/TMainForm.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::bench {

inline void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

template <typename Pred>
bool pumpUntil(Pred pred, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!pred() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return pred();
}

// The window at the top left of the display, 900 x 700, shown and settled.
inline void showWindow(app::TMainForm& form) {
    form.move(0, 0);
    form.resize(900, 700);
    form.show();
    pumpFor(500);
}

// One of the window's controls, found by its name as the tests find them.
template <typename T>
T* control(app::TMainForm& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

// A session opened as File > Connect to Address opens one; its terminal, or null.
inline terminal::TTnEmulT* openAddressSession(app::TMainForm& form, const std::string& address) {
    QWidget* page = form.OpenAddressSession(address)
                        ? control<QTabWidget>(form, "TabNotebook")->currentWidget()
                        : nullptr;
    return page != nullptr ? page->findChild<terminal::TTnEmulT*>() : nullptr;
}

// The text of the lowest non-blank row up to the cursor's, as far as 78 columns.
inline std::string lastShownLine(terminal::TTnEmulT& terminal) {
    for (int row = terminal.CursorRow(); row >= 1; --row) {
        std::string text;
        for (int col = 1; col <= 78; ++col) {
            text.push_back(static_cast<char>(terminal.Buffer().GetCell(col, row).Character));
        }
        if (text.find_first_not_of(std::string(" \0", 2)) != std::string::npos) {
            return text.substr(0, text.find_last_not_of(std::string(" \0", 2)) + 1);
        }
    }
    return {};
}

}  // namespace vandrel::bench
