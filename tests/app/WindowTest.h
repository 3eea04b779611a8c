#pragma once

// The main window under test: message boxes and file dialogs are answered by the test instead
// of shown, and every seam is put back afterwards.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <vector>

#include "DevicePayload.h"
#include "app/FileDialogs.h"
#include "app/MessageDlg.h"
#include "app/TMainForm.h"
#include "discovery/TUDPServer.h"

namespace vandrel::test {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        app::MessageDlgSeam::SetHandler([this](app::TMsgDlgType type, const QString& text) {
            messages.push_back(text);
            messageTypes.push_back(type);
            return type == app::TMsgDlgType::mtError ? app::TModalResult::mrOk : confirmAnswer;
        });
        app::FileDialogSeam::SetHandler([this](QFileDialog&) { return fileAnswer; });
    }
    void TearDown() override {
        form.reset();
        app::FileDialogSeam::Reset();
        app::MessageDlgSeam::Reset();
    }

    // A window whose discovery endpoint takes any free port: nothing of it reaches 33300.
    void CreateQuietWindow() {
        form = std::make_unique<app::TMainForm>();
        form->UDPServer->SetDefaultPort(0);
    }
    // Shows the window made before, or a new one on the discovery port.
    void ShowWindow() {
        if (!form) {
            form = std::make_unique<app::TMainForm>();
        }
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    static void SaveShot(QWidget& widget, const char* name) {
        widget.grab().save(QStringLiteral(VANDREL_BINARY_DIR "/") + QLatin1String(name));
    }

    QTemporaryDir dir;
    std::unique_ptr<app::TMainForm> form;
    std::vector<QString> messages;
    std::vector<app::TMsgDlgType> messageTypes;
    app::TModalResult confirmAnswer = app::TModalResult::mrYes;
    std::optional<QString> fileAnswer;
};

}  // namespace vandrel::test
