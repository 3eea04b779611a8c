#pragma once

// The main window under test: message boxes and file dialogs are answered by the test instead
// of shown, and every seam is put back afterwards.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/FileDialogs.h"
#include "app/MessageDlg.h"
#include "app/TMainForm.h"
#include "app/TStringAlignGrid.h"
#include "discovery/TUDPServer.h"
#include "support/DevicePayload.h"

namespace vandrel::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        app::MessageDlgSeam::SetHandler([this](app::MessageKind type, const QString& text) {
            messages.push_back(text);
            messageTypes.push_back(type);
            return type == app::MessageKind::Error ? app::MessageAnswer::Ok : confirmAnswer;
        });
        app::FileDialogSeam::SetHandler([this](QFileDialog&) { return fileAnswer; });
    }
    void TearDown() override {
        form.reset();
        app::FileDialogSeam::Reset();
        app::MessageDlgSeam::Reset();
        for (const std::string& path : mounted) {
            ::umount(path.c_str());
        }
    }

    // The window's control of that objectName; it throws unless exactly one carries it.
    template <typename T = QWidget>
    T* Control(const char* name) const {
        const QList<T*> found = form->findChildren<T*>(QLatin1String(name));
        if (found.size() != 1) {
            throw std::logic_error(std::to_string(found.size()) + " controls named " + name);
        }
        return found.front();
    }
    app::TStringAlignGrid* Table() const { return Control<app::TStringAlignGrid>("sg"); }
    QTabWidget* Notebook() const { return Control<QTabWidget>("TabNotebook"); }

    // What panel 1 shows on the screen, notice or not.
    QString PanelShown() const { return Control<QLabel>("StatusBarPanel1")->text(); }

    // A 64 KiB tmpfs on a new folder of dir, or "" with the reason in mountProblem when it
    // cannot be had. The GUI thread's mount namespace becomes its own first, so the program's
    // files see the file system and it vanishes with the test.
    std::string Mount(const char* name, unsigned long flags) {
        static const std::string privateMountsProblem =
            ::unshare(CLONE_NEWNS) != 0 ? std::string("unshare: ") + std::strerror(errno)
            : ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                ? std::string("private /: ") + std::strerror(errno)
                : std::string();
        privateMounts = privateMountsProblem.empty();
        mountProblem = privateMountsProblem;
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
        if (!privateMounts) {
            return {};
        }
        if (!QDir().mkpath(QString::fromStdString(path)) ||
            ::mount(name, path.c_str(), "tmpfs", flags, "size=64k") != 0) {
            mountProblem = "tmpfs on " + path + ": " + std::strerror(errno);
            return {};
        }
        mounted.push_back(path);
        return path;
    }

    // A window whose discovery endpoint takes any free port: nothing of it reaches 33300.
    void CreateQuietWindow() {
        form = std::make_unique<app::TMainForm>();
        form->DiscoveryEndpoint().SetDefaultPort(0);
    }
    // Shows the window made before, or a new one on the discovery port.
    void ShowWindow() {
        if (!form) {
            form = std::make_unique<app::TMainForm>();
        }
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Fills the file system of folder up to the last byte with a file "filler".
    static void fillUp(const std::string& folder) {
        QFile filler(QString::fromStdString(folder + "/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'f');
        for (int i = 0; i < 100000 && filler.write(block) > 0; ++i) {
        }
    }
    static void writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    static QByteArray readFile(const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static void SaveShot(QWidget& widget, const char* name) {
        widget.grab().save(QStringLiteral(VANDREL_BINARY_DIR "/") + QLatin1String(name));
    }

    QTemporaryDir dir;
    std::unique_ptr<app::TMainForm> form;
    std::vector<QString> messages;
    std::vector<app::MessageKind> messageTypes;
    app::MessageAnswer confirmAnswer = app::MessageAnswer::Yes;
    std::optional<QString> fileAnswer;
    std::vector<std::string> mounted;
    // Root alone does not promise a mount namespace: without one a test skips, saying why.
    bool privateMounts = false;
    std::string mountProblem;
};

}  // namespace vandrel::test
