#include "app/TMainForm.h"
#include "app/VandrelApplication.h"

int main(int argc, char* argv[]) {
    vandrel::app::VandrelApplication application(argc, argv);
    vandrel::app::TMainForm form;
    form.show();
    return application.exec();
}
