#pragma once

// Diagnostic sink for sockets: each message goes, in this order, to the
// OnSocketLogEvent hook, the debug output (stderr unless replaced) and a log
// file. One caller at a time writes, under the logger's own re-entrant lock,
// which is held while OnSocketLogEvent runs (the hook may log again). The log
// file is opened for reading and writing and locked exclusively (advisory
// lock), so a second logger cannot write into it while it is open.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include "net/EnumSet.h"
#include "net/TObject.h"

namespace vandrel::net {

enum TLogOption {
    loDestEvent,
    loDestFile,
    loDestOutDebug,
    loAddStamp,
    loWsockErr,
    loWsockInfo,
    loWsockDump,
    loSslErr,
    loSslInfo,
    loSslDump,
    loProtSpecErr,
    loProtSpecInfo,
    loProtSpecDump
};
using TLogOptions = EnumSet<TLogOption>;

enum TLogFileOption { lfoAppend, lfoOverwrite };

class ELoggerException : public std::runtime_error {
public:
    explicit ELoggerException(const std::string& msg) : std::runtime_error(msg) {}
};

using TSocketLogEvent =
    std::function<void(TObject* Sender, TLogOption LogOption, const std::string& Msg)>;

class TSocketLogger : public TObject {
public:
    TSocketLogger();
    ~TSocketLogger() override;

    // Writes one message to every destination selected in LogOptions. Does not
    // filter by LogOption: callers ask first. Raises ELoggerException when the
    // file cannot be opened (or has no name); an exception from OnSocketLogEvent
    // skips the remaining destinations.
    void DoDebugLog(TObject* Sender, TLogOption LogOption, const std::string& Msg);
    void CloseLogFile();

    TLogOptions LogOptions() const { return m_logOptions; }
    void SetLogOptions(TLogOptions options);
    const std::string& LogFileName() const { return m_logFileName; }
    // A different name closes the open file; the next file message opens the new one.
    void SetLogFileName(const std::string& name);
    TLogFileOption LogFileOption() const { return m_logFileOption; }
    void SetLogFileOption(TLogFileOption option);
    const TSocketLogEvent& OnSocketLogEvent() const { return m_onSocketLogEvent; }
    void SetOnSocketLogEvent(TSocketLogEvent hook);

    // "hh:nn:ss:zzz" of the current local time.
    static std::string TimeStamp();

    // Destruction notice for the objects that refer to this logger (sockets
    // forget it). The key identifies the registration.
    void AddFreeNotification(const void* key, std::function<void()> notify);
    void RemoveFreeNotification(const void* key);

    // Debug output destination; stderr by default. Tests replace it.
    using DebugOutput = std::function<void(const std::string&)>;
    static void SetDebugOutput(DebugOutput out);

private:
    void OpenLogFile();
    void WriteToLogFile(const std::string& text);

    mutable std::recursive_mutex m_lock;
    TLogOptions m_logOptions;
    TSocketLogEvent m_onSocketLogEvent;
    std::string m_logFileName;
    int m_logFd = -1;
    TLogFileOption m_logFileOption = lfoAppend;
    bool m_destroying = false;
    std::map<const void*, std::function<void()>> m_freeNotifications;
};

}  // namespace vandrel::net
