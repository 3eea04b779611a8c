// commission_measure CMD [ARG]...: runs CMD to its end and prints one line
// "exit=N seconds=S peak_rss_kib=K": its exit status, its wall time and the peak resident
// memory of it and what it waited for (getrusage of the children, via wait4).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: commission_measure CMD [ARG]...\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        return 2;
    }
    if (pid == 0) {
        ::execvp(argv[1], argv + 1);
        std::perror(argv[1]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return 2;
    }
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("exit=%d seconds=%.3f peak_rss_kib=%ld\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), seconds.count(),
                usage.ru_maxrss);
    return 0;
}
