#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/VandrelApplication.h"

int main(int argc, char* argv[]) {
    vandrel::app::VandrelApplication application(argc, argv);
    vandrel::app::TMainForm form;
    // Created once, hidden; it reads the version block now and lives as long as the window.
    form.AboutBox = new vandrel::app::TAboutBox(&form);
    form.show();
    return application.exec();
}
