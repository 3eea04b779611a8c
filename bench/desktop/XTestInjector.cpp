#include "XTestInjector.h"

#include <dlfcn.h>

namespace vandrel::bench {

struct XTestInjector::Api {
    void* x11 = nullptr;
    void* xtst = nullptr;
    void* (*openDisplay)(const char*) = nullptr;
    int (*closeDisplay)(void*) = nullptr;
    int (*flush)(void*) = nullptr;
    int (*sync)(void*, int) = nullptr;
    unsigned char (*keysymToKeycode)(void*, unsigned long) = nullptr;
    int (*fakeMotion)(void*, int, int, int, unsigned long) = nullptr;
    int (*fakeButton)(void*, unsigned, int, unsigned long) = nullptr;
    int (*fakeKey)(void*, unsigned, int, unsigned long) = nullptr;
};

namespace {

template <typename F>
bool load(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    return function != nullptr;
}

}  // namespace

XTestInjector::XTestInjector() : m_api(new Api) {
    m_api->x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    m_api->xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (m_api->x11 == nullptr || m_api->xtst == nullptr) {
        m_error = "libX11.so.6 or libXtst.so.6 is missing (packages libx11-6, libxtst6)";
        return;
    }
    const bool ok = load(m_api->x11, "XOpenDisplay", m_api->openDisplay) &&
                    load(m_api->x11, "XCloseDisplay", m_api->closeDisplay) &&
                    load(m_api->x11, "XFlush", m_api->flush) &&
                    load(m_api->x11, "XSync", m_api->sync) &&
                    load(m_api->x11, "XKeysymToKeycode", m_api->keysymToKeycode) &&
                    load(m_api->xtst, "XTestFakeMotionEvent", m_api->fakeMotion) &&
                    load(m_api->xtst, "XTestFakeButtonEvent", m_api->fakeButton) &&
                    load(m_api->xtst, "XTestFakeKeyEvent", m_api->fakeKey);
    if (!ok) {
        m_error = "the X libraries lack an XTEST function";
        return;
    }
    m_display = m_api->openDisplay(nullptr);
    if (m_display == nullptr) {
        m_error = "cannot open the X display (DISPLAY unset?)";
    }
}

XTestInjector::~XTestInjector() {
    if (m_display != nullptr) {
        m_api->closeDisplay(m_display);
    }
    // The libraries stay loaded: Xlib keeps handlers registered for the process.
    delete m_api;
}

void XTestInjector::Click(int x, int y) {
    m_api->fakeMotion(m_display, -1, x, y, 0);
    m_api->fakeButton(m_display, 1, 1, 0);
    m_api->fakeButton(m_display, 1, 0, 0);
    m_api->sync(m_display, 0);
}

void XTestInjector::Key(unsigned long keysym) {
    const unsigned code = m_api->keysymToKeycode(m_display, keysym);
    m_api->fakeKey(m_display, code, 1, 0);
    m_api->fakeKey(m_display, code, 0, 0);
    m_api->sync(m_display, 0);
}

}  // namespace vandrel::bench
