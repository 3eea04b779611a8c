#include "terminal/EInOutError.h"

#include <system_error>

namespace vandrel::terminal {

namespace {

std::string MessageFor(int errorCode, const std::string& fileName) {
    return std::system_category().message(errorCode) + " (" + fileName + ")";
}

}  // namespace

EInOutError::EInOutError(int errorCode, std::string fileName)
    : std::runtime_error(MessageFor(errorCode, fileName)),
      m_errorCode(errorCode),
      m_fileName(std::move(fileName)) {}

}  // namespace vandrel::terminal
