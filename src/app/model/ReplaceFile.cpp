#include "app/model/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace vandrel::app {

namespace {

// Tries a few names beside path that nobody else uses ("." + name + ".<pid>-<n>.part").
int CreateBeside(const std::string& path, std::string& tempPath) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                   std::to_string(attempt) + ".part";
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

int ReplaceFile(const std::string& link, std::string_view bytes) {
    // Through a symbolic link the file it points to is replaced, not the link.
    std::string path = link;
    if (char* real = ::realpath(link.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    std::string tempPath;
    const int fd = CreateBeside(path, tempPath);
    if (fd < 0) {
        return errno;
    }
    int error = WriteAll(fd, bytes);
    struct stat old {};
    if (error == 0 && ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        ::fchmod(fd, old.st_mode & 07777) != 0) {
        error = errno;
    }
    // A file system may report a full disk only when the data goes out.
    if (error == 0 && ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(tempPath.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(tempPath.c_str());
    }
    return error;
}

std::string CannotWriteText(const std::string& path, int error) {
    return "Cannot write " + path + ": " + std::system_category().message(error);
}

}  // namespace vandrel::app
