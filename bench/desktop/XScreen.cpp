#include "XScreen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>

namespace vandrel::bench {

namespace {

Display* display(void* d) {
    return static_cast<Display*>(d);
}

}  // namespace

XScreen::XScreen() {
    m_display = XOpenDisplay(nullptr);
    if (m_display == nullptr) {
        m_error = "cannot open the X display (DISPLAY unset?)";
    }
}

XScreen::~XScreen() {
    if (m_display != nullptr) {
        XCloseDisplay(display(m_display));
    }
}

bool XScreen::Grab(const Rect& r, std::vector<std::uint32_t>& pixels) {
    Display* d = display(m_display);
    const int screen = DefaultScreen(d);
    const int x = std::max(0, r.x);
    const int y = std::max(0, r.y);
    const int w = std::min(r.x + r.width, DisplayWidth(d, screen)) - x;
    const int h = std::min(r.y + r.height, DisplayHeight(d, screen)) - y;
    if (w <= 0 || h <= 0) {
        return false;
    }
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    if (image->bits_per_pixel == 32) {
        for (int row = 0; row < h; ++row) {
            std::memcpy(pixels.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(w),
                        image->data + static_cast<std::ptrdiff_t>(row) * image->bytes_per_line,
                        static_cast<std::size_t>(w) * 4);
        }
        for (auto& p : pixels) {
            p &= 0xFFFFFF;
        }
    } else {
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < w; ++col) {
                pixels[static_cast<std::size_t>(row * w + col)] =
                    static_cast<std::uint32_t>(XGetPixel(image, col, row));
            }
        }
    }
    XDestroyImage(image);
    return true;
}

std::vector<XScreen::Window> XScreen::MappedWindows() {
    Display* d = display(m_display);
    ::Window root = 0;
    ::Window parent = 0;
    ::Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> out;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count) == 0) {
        return out;
    }
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, children[i], &a) != 0 && a.map_state == IsViewable) {
            out.push_back({children[i], {a.x, a.y, a.width, a.height}});
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return out;
}

void XScreen::Focus(unsigned long window) {
    XSetInputFocus(display(m_display), window, RevertToPointerRoot, CurrentTime);
    XSync(display(m_display), False);
}

int XScreen::Colours(const Rect& r, int limit) {
    std::vector<std::uint32_t> pixels;
    if (!Grab(r, pixels)) {
        return 0;
    }
    std::vector<std::uint32_t> seen;
    for (const std::uint32_t p : pixels) {
        if (std::find(seen.begin(), seen.end(), p) == seen.end()) {
            seen.push_back(p);
            if (static_cast<int>(seen.size()) >= limit) {
                break;
            }
        }
    }
    return static_cast<int>(seen.size());
}

}  // namespace vandrel::bench
