#include "app/model/LogFileProbe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vandrel::app {

int ProbeLogFile(const std::string& name) {
    if (name.empty()) {
        return ENOENT;
    }
    // Non-blocking, so a FIFO without a reader fails here instead of hanging the window.
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    int result = 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        result = errno == EWOULDBLOCK ? EBUSY : errno;
    }
    ::close(fd);  // also releases the probe's own lock
    return result;
}

}  // namespace vandrel::app
