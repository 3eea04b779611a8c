#pragma once

#include <string>

namespace vandrel::bench {

// Real input through the X server: pointer moves, button and key presses made with the XTEST
// extension over a connection of its own, so they reach the program the way a user's do. The
// X libraries are loaded at run time (libX11, libXtst: Debian packages libx11-6, libxtst6).
class XTestInjector {
public:
    XTestInjector();
    ~XTestInjector();
    XTestInjector(const XTestInjector&) = delete;
    XTestInjector& operator=(const XTestInjector&) = delete;

    // Empty when ready, else why not.
    const std::string& Error() const { return m_error; }

    // A left click at a root-window position (press and release).
    void Click(int x, int y);
    // A press and release of the key of an X keysym.
    void Key(unsigned long keysym);

private:
    struct Api;
    Api* m_api = nullptr;
    void* m_display = nullptr;
    std::string m_error;
};

}  // namespace vandrel::bench
