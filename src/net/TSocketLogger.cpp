#include "net/TSocketLogger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>

namespace vandrel::net {

namespace {

std::mutex g_debugOutputLock;
TSocketLogger::DebugOutput& debugOutput() {
    static TSocketLogger::DebugOutput out;
    return out;
}

void writeDebugOutput(const std::string& text) {
    std::lock_guard lock(g_debugOutputLock);
    if (debugOutput()) {
        debugOutput()(text);
    } else {
        std::cerr << text << std::endl;
    }
}

std::string cannotText(const char* pattern, const std::string& name) {
    std::string text = pattern;
    const auto pos = text.find("%s");
    if (pos != std::string::npos) {
        text.replace(pos, 2, name);
    }
    return text;
}

}  // namespace

TSocketLogger::TSocketLogger() = default;

TSocketLogger::~TSocketLogger() {
    std::map<const void*, std::function<void()>> notify;
    {
        std::lock_guard lock(m_lock);
        m_destroying = true;
        notify.swap(m_freeNotifications);
    }
    for (auto& [key, fn] : notify) {
        fn();
    }
    CloseLogFile();
}

void TSocketLogger::SetDebugOutput(DebugOutput out) {
    std::lock_guard lock(g_debugOutputLock);
    debugOutput() = std::move(out);
}

void TSocketLogger::AddFreeNotification(const void* key, std::function<void()> notify) {
    std::lock_guard lock(m_lock);
    if (!m_destroying) {
        m_freeNotifications[key] = std::move(notify);
    }
}

void TSocketLogger::RemoveFreeNotification(const void* key) {
    std::lock_guard lock(m_lock);
    m_freeNotifications.erase(key);
}

void TSocketLogger::SetLogOptions(TLogOptions options) {
    std::lock_guard lock(m_lock);
    m_logOptions = options;
}

void TSocketLogger::SetLogFileName(const std::string& name) {
    std::lock_guard lock(m_lock);
    if (name == m_logFileName) {
        return;
    }
    m_logFileName = name;
    CloseLogFile();
}

void TSocketLogger::SetLogFileOption(TLogFileOption option) {
    std::lock_guard lock(m_lock);
    m_logFileOption = option;
}

void TSocketLogger::SetOnSocketLogEvent(TSocketLogEvent hook) {
    std::lock_guard lock(m_lock);
    m_onSocketLogEvent = std::move(hook);
}

std::string TSocketLogger::TimeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int ms =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return buf;
}

void TSocketLogger::DoDebugLog(TObject* Sender, TLogOption LogOption, const std::string& Msg) {
    std::lock_guard lock(m_lock);
    if (m_destroying) {
        return;
    }
    const bool stamp = m_logOptions.Contains(loAddStamp);
    auto text = [&] { return stamp ? TimeStamp() + " " + Msg : Msg; };
    if (m_logOptions.Contains(loDestEvent) && m_onSocketLogEvent) {
        m_onSocketLogEvent(Sender, LogOption, text());
    }
    if (m_logOptions.Contains(loDestOutDebug)) {
        writeDebugOutput(text());
    }
    if (m_logOptions.Contains(loDestFile)) {
        WriteToLogFile(text() + "\r\n");
    }
}

void TSocketLogger::CloseLogFile() {
    std::lock_guard lock(m_lock);
    if (m_logFd >= 0) {
        ::close(m_logFd);  // releases the advisory lock too
        m_logFd = -1;
    }
}

void TSocketLogger::OpenLogFile() {
    CloseLogFile();
    if (m_logFileName.empty()) {
        throw ELoggerException("File name empty");
    }
    int fd = ::open(m_logFileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        const bool exists = ::access(m_logFileName.c_str(), F_OK) == 0;
        throw ELoggerException(cannotText(
            exists ? "Datei %s kann nicht geöffnet werden" : "Datei %s kann nicht erstellt werden",
            m_logFileName));
    }
    // Others may read the file while it is open, but no second writer.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        throw ELoggerException(cannotText("Datei %s kann nicht geöffnet werden", m_logFileName));
    }
    if (m_logFileOption == lfoOverwrite) {
        if (::ftruncate(fd, 0) != 0) {
            ::close(fd);
            throw ELoggerException(
                cannotText("Datei %s kann nicht geöffnet werden", m_logFileName));
        }
    }
    ::lseek(fd, 0, m_logFileOption == lfoOverwrite ? SEEK_SET : SEEK_END);
    m_logFd = fd;
}

void TSocketLogger::WriteToLogFile(const std::string& text) {
    if (m_logFd < 0) {
        OpenLogFile();
    }
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(m_logFd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // a full disk loses log lines, never the session
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace vandrel::net
