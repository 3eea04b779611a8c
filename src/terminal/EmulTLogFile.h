#pragma once

#include <cstddef>
#include <string>

#include "terminal/EInOutError.h"

namespace vandrel::terminal {

// The session log file of one terminal view: every byte written to the view
// while logging, between the markers "<Open>" and "<Close>".
//
// Opening never throws: a failure is kept and reported by the next Write, so
// that the byte in hand is neither logged nor shown. While a logging period is
// active the file holds an exclusive advisory lock, so a second logger (in this
// or another process) cannot write into it; readers are not affected.
class EmulTLogFile {
public:
    EmulTLogFile() = default;
    EmulTLogFile(const EmulTLogFile&) = delete;
    EmulTLogFile& operator=(const EmulTLogFile&) = delete;
    // Ends an active period like Close, but swallows its errors.
    ~EmulTLogFile();

    // True between Open and Close, whether or not the file could be opened.
    bool Active() const { return m_active; }

    // Appends to name (cutting the file at the first byte 26 within its last
    // 128 bytes) or creates it, then writes "<Open>".
    void Open(const std::string& name);

    // Writes "<Close>" and closes the file. The period ends and the file is
    // released even when this throws EInOutError.
    void Close();

    // Writes up to n bytes with as few system calls as the file allows and
    // returns how many reached the file. Fewer than n means failure: the next
    // call of RaiseError throws it. A pending open failure writes nothing.
    std::size_t Write(const char* data, std::size_t n);

    // The failure of the last Write that returned short, and throwing it.
    EInOutError Error() const;
    [[noreturn]] void RaiseError() const;

private:
    int OpenForAppend(const std::string& name);
    int OpenForRewrite(const std::string& name);
    std::size_t WriteAll(const char* data, std::size_t n);

    bool m_active = false;
    int m_fd = -1;
    std::string m_name;
    int m_openError = 0;     // open failed: every Write fails with it
    int m_pendingError = 0;  // "<Open>" failed: the next Write fails with it
    int m_lastError = 0;
};

}  // namespace vandrel::terminal
