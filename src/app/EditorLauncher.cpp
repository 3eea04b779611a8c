#include "app/EditorLauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace vandrel::app {

namespace {

const QString& DefaultProgram() {
    static const QString program = QStringLiteral("xdg-open");
    return program;
}

QString& CurrentProgram() {
    static QString program = DefaultProgram();
    return program;
}

// A program given with a directory part is taken as it stands; a bare name is looked up on
// the PATH the way a shell would.
QString Locate(const QString& program) {
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program);
}

}  // namespace

int EditorLauncher::Open(const QString& path) {
    const QString executable = Locate(CurrentProgram());
    if (executable.isEmpty()) {
        return NotFound;
    }
    // Absolute, so a name starting with "-" is never taken for an option.
    const QString argument = QFileInfo(path).absoluteFilePath();
    if (!QProcess::startDetached(executable, {argument})) {
        return StartFailed;
    }
    return 0;
}

QString EditorLauncher::Program() {
    return CurrentProgram();
}

void EditorLauncher::SetProgram(const QString& program) {
    CurrentProgram() = program;
}

void EditorLauncher::Reset() {
    CurrentProgram() = DefaultProgram();
}

}  // namespace vandrel::app
