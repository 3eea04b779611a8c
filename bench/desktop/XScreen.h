#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::bench {

// The X server's screen as a user sees it, read back over a connection of its own (one per
// thread): pixels of a rectangle of the root window and the mapped top-level windows.
class XScreen {
public:
    struct Rect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };
    struct Window {
        unsigned long id = 0;
        Rect rect;
    };

    XScreen();
    ~XScreen();
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    // Empty when ready, else why not.
    const std::string& Error() const { return m_error; }
    // The pixels of r, row by row, as 0xRRGGBB; false when r is not on the screen.
    bool Grab(const Rect& r, std::vector<std::uint32_t>& pixels);
    // Top-level windows that are mapped, bottom first.
    std::vector<Window> MappedWindows();
    // Gives a top-level window the keyboard, as a window manager would on a click.
    void Focus(unsigned long window);
    // How many different colours r shows (counting stops at limit).
    int Colours(const Rect& r, int limit);

private:
    void* m_display = nullptr;
    std::string m_error;
};

}  // namespace vandrel::bench
