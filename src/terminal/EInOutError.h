#pragma once

#include <stdexcept>
#include <string>

namespace vandrel::terminal {

// The runtime's input/output error: a failed file operation, with the system's
// error text for ErrorCode (an errno value) and the name of the file.
class EInOutError : public std::runtime_error {
public:
    EInOutError(int errorCode, std::string fileName);

    int ErrorCode() const { return m_errorCode; }
    const std::string& FileName() const { return m_fileName; }

private:
    int m_errorCode;
    std::string m_fileName;
};

}  // namespace vandrel::terminal
