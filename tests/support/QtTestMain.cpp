// The GoogleTest main of tests that need a Qt application object on the main thread (an
// event loop for sockets, a display for widgets). vandrel_add_test(... QT_MAIN <kind>)
// compiles it into the test with the kind chosen by a definition.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

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
    // No test reads or writes the user's own settings: the settings folder of desktop
    // programs is a scratch folder of this run, for this process and the ones it starts.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    TestApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
