#pragma once

#include <QIcon>
#include <QImage>

namespace vandrel::app {

// The program's picture, drawn as SVG (src/app/resources/vandrel.svg, compiled in as this
// resource): the information dialog's picture and the window and desktop icon.
inline constexpr const char* AppIconResource = ":/vandrel/vandrel.svg";

// The picture as a square image of size x size pixels with a transparent background; a null
// image when the resource cannot be read.
QImage AppPicture(int size);
// The picture at the sizes desktops ask for.
QIcon AppIcon();

}  // namespace vandrel::app
