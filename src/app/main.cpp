#include <QCoreApplication>

#include <iostream>
#include <string>

#include "app/QuitOnSignal.h"
#include "app/Settings.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "app/VandrelApplication.h"
#include "app/cli/CommandLine.h"
#include "app/cli/RunCommand.h"
#include "app/cli/ScanCommand.h"
#include "app/model/VersionBlock.h"

namespace {

constexpr int kUsageError = 2;

QStringList Arguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    return arguments;
}

int ShowVersion() {
    int error = 0;
    const std::string line = vandrel::app::VersionLine(vandrel::app::SelfExecutableFile, error);
    if (line.empty()) {
        std::cerr << "vandrel: this executable carries no version block (error " << error << ")\n";
        return 1;
    }
    std::cout << line << "\n";
    return 0;
}

int UsageError(const std::string& error) {
    std::cerr << "vandrel: " << error << "\nTry 'vandrel --help' for the options.\n";
    return kUsageError;
}

}  // namespace

int main(int argc, char* argv[]) {
    using namespace vandrel::app;
    // Help, the version, a scan and a run need no display: they are answered before any Qt
    // GUI application exists.
    const CommandLine line = ParseCommandLine(Arguments(argc, argv));
    if (line.Help) {
        std::cout << CommandLineHelp();
        return 0;
    }
    if (line.Version) {
        return ShowVersion();
    }
    if (line.Run && line.Error.empty()) {
        QCoreApplication application(argc, argv);
        return RunRunCommand(line.RunSettings, std::cout, std::cerr);
    }
    if (line.Scan || line.Run || (!line.Error.empty() && !line.ToolkitOptions)) {
        return line.Error.empty() ? RunScanCommand(line.Options, std::cout, std::cerr)
                                  : UsageError(line.Error);
    }
    // The window. Qt takes its own options (-platform, -style, ...) out of argc and argv
    // first; whatever is left must be the program's.
    VandrelApplication application(argc, argv);
    if (const CommandLine rest = ParseCommandLine(Arguments(argc, argv)); !rest.Error.empty()) {
        return UsageError(rest.Error);
    }
    QuitOnTerminationSignals();
    TMainForm form;
    form.UseSettings(std::make_unique<Settings>(Settings::UserFileName()));
    // Created once, hidden; it reads the version block now and lives as long as the window.
    form.SetAboutBox(new TAboutBox(&form));
    form.show();
    return application.exec();
}
