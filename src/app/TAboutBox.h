#pragma once

#include <QDialog>

#include "app/FormScale.h"

class QLabel;
class QPushButton;

namespace vandrel::app {

class TSecretPanel;

// The modal "Info" dialog: product name, version and copyright from the executable's version
// block, the maker's address, e-mail and web links, and the program's picture. A double
// click on the panel scrolls the credits once. The program creates it once, hidden, right
// after the main window; it lives until the program ends.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    // The maker's texts, shown by FormShow.
    static const QString AddressText;
    static const QString EmailText;
    static const QString WebText;
    // The credits, first two lines blank.
    static const QStringList CreditLines;

    QPushButton* Button1 = nullptr;
    TSecretPanel* SecretPanel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* lb_Version = nullptr;
    QLabel* lb_Copyright = nullptr;
    QLabel* lb_adr = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lb_email = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* lb_web = nullptr;

    // Published handlers.
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormClose(QObject* Sender);
    void SecretPanel1DblClick(QObject* Sender);
    void LabelMouseMove(QObject* Sender);
    void LabelClick(QObject* Sender);
    void lb_emailClick(QObject* Sender);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateLayout();
    QLabel* AddLabel(const char* name, const QString& text, int left, int top);

    FormScale m_scale{1.0, 1.0};
};

}  // namespace vandrel::app
