#include "terminal/EmulTLogFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <string_view>

#include "terminal/EInOutError.h"

namespace vandrel::terminal {

namespace {

constexpr std::string_view kOpenMarker = "<Open>";
constexpr std::string_view kCloseMarker = "<Close>";
constexpr off_t kEofScan = 128;
constexpr char kEofByte = 26;

// Takes the writer's lock or fails with EBUSY; closes fd on failure.
bool LockForWriting(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return true;
    }
    const int err = (errno == EWOULDBLOCK) ? EBUSY : errno;
    ::close(fd);
    errno = err;
    return false;
}

bool IsRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Cuts a regular file at the first byte 26 of its last 128 bytes.
bool CutAtEofByte(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    const off_t start = std::max<off_t>(0, st.st_size - kEofScan);
    std::array<char, kEofScan> tail{};
    const ssize_t got = ::pread(fd, tail.data(), static_cast<size_t>(st.st_size - start), start);
    if (got < 0) {
        return false;
    }
    const auto end = tail.begin() + got;
    const auto hit = std::find(tail.begin(), end, kEofByte);
    return hit == end || ::ftruncate(fd, start + (hit - tail.begin())) == 0;
}

}  // namespace

EmulTLogFile::~EmulTLogFile() {
    try {
        Close();
    } catch (const EInOutError&) {
        // Nowhere to report it; the file has been released by Close.
    }
}

int EmulTLogFile::OpenForAppend(const std::string& name) {
    // Non-blocking, so that a log named after a pipe or device reports an
    // error instead of stopping the program when it cannot take more.
    const int fd = ::open(name.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !LockForWriting(fd)) {
        return -1;
    }
    if (IsRegular(fd) && !CutAtEofByte(fd)) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// Creates the file. An existing file that could not be opened for reading is
// appended to rather than emptied, so an earlier session's log is never lost.
int EmulTLogFile::OpenForRewrite(const std::string& name) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 || !LockForWriting(fd)) {
        return -1;
    }
    return fd;
}

void EmulTLogFile::Open(const std::string& name) {
    if (m_active) {
        return;
    }
    m_active = true;
    m_name = name;
    m_openError = m_pendingError = m_lastError = 0;
    m_fd = OpenForAppend(name);
    if (m_fd < 0 && errno != EBUSY) {
        m_fd = OpenForRewrite(name);
    }
    if (m_fd < 0) {
        m_openError = errno;
        return;
    }
    if (IsRegular(m_fd)) {
        ::lseek(m_fd, 0, SEEK_END);
    }
    if (WriteAll(kOpenMarker.data(), kOpenMarker.size()) < kOpenMarker.size()) {
        m_pendingError = m_lastError;
    }
}

void EmulTLogFile::Close() {
    if (!m_active) {
        return;
    }
    m_active = false;
    int err = m_openError;
    if (m_fd >= 0) {
        if (WriteAll(kCloseMarker.data(), kCloseMarker.size()) < kCloseMarker.size()) {
            err = m_lastError;
        }
        if (::close(m_fd) != 0 && err == 0) {
            err = errno;
        }
        m_fd = -1;
    }
    m_openError = m_pendingError = 0;
    if (err != 0) {
        throw EInOutError(err, m_name);
    }
}

std::size_t EmulTLogFile::Write(const char* data, std::size_t n) {
    if (m_fd < 0) {
        m_lastError = m_openError != 0 ? m_openError : EBADF;
        return 0;
    }
    if (m_pendingError != 0) {
        m_lastError = m_pendingError;
        m_pendingError = 0;
        return 0;
    }
    return WriteAll(data, n);
}

std::size_t EmulTLogFile::WriteAll(const char* data, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(m_fd, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
        } else if (w < 0 && errno == EINTR) {
            continue;
        } else {
            m_lastError = (w < 0) ? errno : EIO;
            break;
        }
    }
    return done;
}

EInOutError EmulTLogFile::Error() const {
    return EInOutError(m_lastError != 0 ? m_lastError : EIO, m_name);
}

void EmulTLogFile::RaiseError() const {
    throw Error();
}

}  // namespace vandrel::terminal
