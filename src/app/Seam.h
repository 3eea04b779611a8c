#pragma once

#include <utility>

namespace vandrel::app {

// A handler that tests put in place of a dialog or a desktop service; without one the program
// does the real thing. Tag (the seam class itself) gives every seam a handler of its own.
template <typename Tag, typename Handler>
class Seam {
public:
    static void SetHandler(Handler handler) { Slot() = std::move(handler); }
    static void Reset() { Slot() = nullptr; }
    // A copy: a handler may replace itself while it runs.
    static Handler Current() { return Slot(); }

private:
    static Handler& Slot() {
        static Handler handler;
        return handler;
    }
};

}  // namespace vandrel::app
