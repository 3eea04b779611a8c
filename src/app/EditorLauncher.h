#pragma once

#include <QString>

namespace vandrel::app {

// Opens a file in the desktop's text editor. The editor is started directly, without a
// shell, with the file's absolute path as its one argument, so blanks, quotes or shell
// characters in a file name reach the editor unchanged.
class EditorLauncher {
public:
    // Failure codes of Open, shown in "Shell error (%d)".
    static constexpr int NotFound = 2;     // no such program on the PATH
    static constexpr int StartFailed = 5;  // found, but it could not be started

    // Starts the editor detached and returns 0, or one of the codes above. The editor's
    // own success is not waited for.
    static int Open(const QString& path);

    // The program started by Open: a name looked up on the PATH or a path. By default
    // "xdg-open", which starts the editor the desktop associates with text files.
    static QString Program();
    static void SetProgram(const QString& program);
    static void Reset();
};

}  // namespace vandrel::app
