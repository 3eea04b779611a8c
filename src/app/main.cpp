#include <iostream>
#include <string>
#include <vector>

#include "app/ScanCommand.h"
#include "app/ScanOptions.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/VandrelApplication.h"

int main(int argc, char* argv[]) {
    // A scan runs before any Qt application exists, so it needs no display.
    if (const std::vector<std::string> args(argv + 1, argv + argc);
        vandrel::app::IsScanCommand(args)) {
        return vandrel::app::RunScanCommand(args, std::cout, std::cerr);
    }
    vandrel::app::VandrelApplication application(argc, argv);
    vandrel::app::TMainForm form;
    // Created once, hidden; it reads the version block now and lives as long as the window.
    form.AboutBox = new vandrel::app::TAboutBox(&form);
    form.show();
    return application.exec();
}
