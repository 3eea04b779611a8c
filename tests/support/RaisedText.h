#pragma once

#include <string>
#include <utility>

namespace vandrel::test {

// The text of the Error that f raises, or "(nothing raised)". Errors of other types pass
// through and fail the test.
template <typename Error, typename F>
std::string raisedText(F&& f) {
    try {
        std::forward<F>(f)();
    } catch (const Error& e) {
        return e.what();
    }
    return "(nothing raised)";
}

}  // namespace vandrel::test
