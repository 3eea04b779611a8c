#pragma once

#include <QUrl>

#include <functional>

#include "app/Seam.h"

namespace vandrel::app {

// Opens a web address in the user's browser or a "mailto:" link in the mail program, through
// the desktop's handler for it. Whether that worked is not reported. Goes through
// DesktopLinkSeam when a handler is installed.
void OpenDesktopLink(const QUrl& url);

// Lets tests see the links the program opens instead of starting a browser.
class DesktopLinkSeam : public Seam<DesktopLinkSeam, std::function<void(const QUrl& url)>> {};

}  // namespace vandrel::app
