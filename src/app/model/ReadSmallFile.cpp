#include "app/model/ReadSmallFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vandrel::app {

int ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    std::string content;
    int failure = 0;
    for (;;) {
        char buffer[64 * 1024];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failure = n < 0 ? errno : 0;
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
        if (content.size() > limit) {
            failure = EFBIG;
            break;
        }
    }
    ::close(fd);
    if (failure == 0) {
        bytes = std::move(content);
    }
    return failure;
}

}  // namespace vandrel::app
