// The GoogleTest main of tests that need a Qt application object on the main thread (an
// event loop for sockets, a display for widgets). vandrel_add_test(... QT_MAIN <kind>)
// compiles it into the test with the kind chosen by a definition.
#include <gtest/gtest.h>

#if defined(VANDREL_QT_MAIN_APP)
#include "app/VandrelApplication.h"
using TestApplication = vandrel::app::VandrelApplication;
#elif defined(VANDREL_QT_MAIN_WIDGETS)
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
