#include "app/DesktopLinks.h"

#include <QDesktopServices>

namespace vandrel::app {

void OpenDesktopLink(const QUrl& url) {
    if (const auto handler = DesktopLinkSeam::Current()) {
        handler(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

}  // namespace vandrel::app
