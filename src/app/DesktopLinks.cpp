#include "app/DesktopLinks.h"

#include <QDesktopServices>

#include <utility>

namespace vandrel::app {

namespace {

DesktopLinkSeam::THandler& Handler() {
    static DesktopLinkSeam::THandler handler;
    return handler;
}

}  // namespace

void DesktopLinkSeam::SetHandler(THandler handler) {
    Handler() = std::move(handler);
}

void DesktopLinkSeam::Reset() {
    Handler() = nullptr;
}

void OpenDesktopLink(const QUrl& url) {
    if (Handler()) {
        const DesktopLinkSeam::THandler handler = Handler();
        handler(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

}  // namespace vandrel::app
