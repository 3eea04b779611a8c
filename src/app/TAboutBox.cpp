#include "app/TAboutBox.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "app/AppIcon.h"
#include "app/DesktopLinks.h"
#include "app/FormScale.h"
#include "app/TSecretPanel.h"
#include "app/TVersionInfo.h"
#include "app/UiFonts.h"
#include "app/VandrelApplication.h"

namespace vandrel::app {

const QString TAboutBox::AddressText =
    QStringLiteral("Vandrel Project\nDevice Commissioning Tools\n12 Harbour Lane\nExample City");
const QString TAboutBox::EmailText = QStringLiteral("info@vandrel.example");
const QString TAboutBox::WebText = QStringLiteral("https://www.vandrel.example");
const QStringList TAboutBox::CreditLines = {
    QString(),
    QString(),
    QStringLiteral("Vandrel"),
    QStringLiteral("finds, connects and documents"),
    QStringLiteral("the devices on your bench"),
    QString(),
    QStringLiteral("Programming"),
    QStringLiteral("The Vandrel Project"),
    QString(),
    QStringLiteral("Testing with simulated devices"),
    QStringLiteral("vandrel-devsim and its lab"),
    QString(),
    QStringLiteral("Thanks for every fault report!"),
};

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    CreateLayout();
    RunGuarded([this] { FormCreate(this); });
}

TAboutBox::~TAboutBox() = default;

QLabel* TAboutBox::AddLabel(const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, SecretPanel1);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->move(m_scale.X(left), m_scale.Y(top));
    label->setFont(FormFont());
    label->adjustSize();
    return label;
}

void TAboutBox::CreateLayout() {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("Info"));
    setFont(DialogFont());
    m_scale = FormScale(FormFont());
    setFixedSize(m_scale.Size(366, 254));
    setModal(true);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(m_scale.Rect(140, 220, 89, 25));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    SecretPanel1 = new TSecretPanel(this);
    SecretPanel1->setObjectName(QStringLiteral("SecretPanel1"));
    SecretPanel1->setGeometry(m_scale.Rect(8, 8, 349, 201));
    QFont scrollFont = DialogFont();
    scrollFont.setBold(true);
    SecretPanel1->SetTextFont(scrollFont);
    SecretPanel1->SetTextColor(Qt::blue);
    SecretPanel1->SetTextStyle(TSecretPanel::TextRelief::Raised);
    SecretPanel1->SetInterval(40);
    SecretPanel1->SetLines(CreditLines);
    SecretPanel1->OnDblClick = [this](QObject* Sender) { SecretPanel1DblClick(Sender); };

    Image1 = new QLabel(SecretPanel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    // The picture keeps its proportions: it grows with the smaller of the two factors.
    const FormScale square(std::min(m_scale.XFactor(), m_scale.YFactor()),
                           std::min(m_scale.XFactor(), m_scale.YFactor()));
    Image1->setGeometry(m_scale.X(8), m_scale.Y(17), square.X(137), square.Y(136));
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap::fromImage(AppPicture(256)));

    ProductName = AddLabel("ProductName", QString(), 156, 16);
    ProductName->setFont(FormBoldFont());
    lb_Version = AddLabel("lb_Version", QString(), 156, 36);
    lb_Copyright = AddLabel("lb_Copyright", QString(), 156, 52);
    lb_Copyright->setFixedWidth(m_scale.X(180));
    lb_adr = AddLabel("lb_adr", QString(), 156, 72);
    lb_adr->setFixedSize(m_scale.Size(180, 81));
    lb_adr->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lb_adr->setWordWrap(true);
    Label4 = AddLabel("Label4", QStringLiteral("e-mail"), 8, 160);
    Label6 = AddLabel("Label6", QStringLiteral("web"), 8, 176);
    lb_email = AddLabel("lb_email", QString(), 48, 160);
    lb_web = AddLabel("lb_web", QString(), 48, 176);
    for (QLabel* link : {lb_email, lb_web}) {
        QFont linkFont = FormFont();
        linkFont.setUnderline(true);
        link->setFont(linkFont);
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
        link->setMouseTracking(true);
        link->installEventFilter(this);
    }
}

void TAboutBox::FormCreate(QObject*) {
    const TVersionInfo info;
    lb_Version->setText(QString::asprintf("Version %d.%d (%d)", info.GetFileVersionPart(0),
                                          info.GetFileVersionPart(1), info.GetFileVersionPart(3)));
    ProductName->setText(QString::fromUtf8(info.GetInfoString(8)));
    lb_Copyright->setText(QString::fromUtf8(info.GetInfoString(5)));
    lb_Version->adjustSize();
    ProductName->adjustSize();
    lb_Copyright->adjustSize();
}

void TAboutBox::FormShow(QObject*) {
    lb_adr->setText(AddressText);
    lb_email->setText(EmailText);
    lb_web->setText(WebText);
    lb_email->adjustSize();
    lb_web->adjustSize();
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TAboutBox::FormClose(QObject*) {
    SecretPanel1->SetActive(false);
}

void TAboutBox::SecretPanel1DblClick(QObject*) {
    QFont font = SecretPanel1->TextFont();
    const QFont tenPoints = FormFontAtDrawnPoints(10);
    if (tenPoints.pointSizeF() > 0) {
        font.setPointSizeF(tenPoints.pointSizeF());
    } else {
        font.setPixelSize(tenPoints.pixelSize());
    }
    SecretPanel1->SetTextFont(font);
    SecretPanel1->SetActive(!SecretPanel1->Active());
}

void TAboutBox::LabelMouseMove(QObject* Sender) {
    if (auto* label = qobject_cast<QLabel*>(Sender)) {
        label->setCursor(Qt::PointingHandCursor);
    }
}

void TAboutBox::LabelClick(QObject* Sender) {
    if (auto* label = qobject_cast<QLabel*>(Sender)) {
        OpenDesktopLink(QUrl::fromUserInput(label->text()));
    }
}

void TAboutBox::lb_emailClick(QObject*) {
    OpenDesktopLink(QUrl(QStringLiteral("mailto:") + lb_email->text()));
}

void TAboutBox::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        RunGuarded([this] { FormShow(this); });
    }
    QDialog::showEvent(event);
}

void TAboutBox::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) {
        RunGuarded([this] { FormClose(this); });
    }
    QDialog::hideEvent(event);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched != lb_web && watched != lb_email) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseMove) {
        RunGuarded([&] { LabelMouseMove(watched); });
    } else if (event->type() == QEvent::MouseButtonPress) {
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* label = static_cast<QWidget*>(watched);
        if (mouse->button() != Qt::LeftButton ||
            !label->rect().contains(mouse->position().toPoint())) {
            return false;
        }
        RunGuarded([&] {
            if (watched == lb_web) {
                LabelClick(watched);
            } else {
                lb_emailClick(watched);
            }
        });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace vandrel::app
