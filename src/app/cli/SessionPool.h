#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/cli/DeviceSession.h"
#include "app/cli/RunReport.h"

namespace vandrel::app {

// One device of a pool: its session's setup, or why it fails without one.
struct PoolJob {
    SessionSetup Setup;
    // Not empty: the device fails with this reason before anything is sent to it.
    std::string Failure;
    // Not empty: the session log goes into this folder, named by the device and the time the
    // session starts.
    std::string LogDir;
};

// Runs the script on the jobs' devices, at most parallel sessions at a time, in the jobs'
// order. finished runs as each device ends, allDone once after the last one (both from the
// event loop). Lives on the thread of a Qt event loop.
class SessionPool {
public:
    using FinishedHook =
        std::function<void(const DeviceResult& result, const std::string& logError)>;

    SessionPool(const script::Script& script, std::vector<PoolJob> jobs, int parallel,
                FinishedHook finished, std::function<void()> allDone);
    ~SessionPool();

    void Start();
    // Starts no more sessions and stops those that are going with reason; the devices not
    // started stay "not run". allDone follows once the stopped sessions have ended.
    void Stop(const std::string& reason);

    // One result per job, in the jobs' order.
    const std::vector<DeviceResult>& Results() const { return m_results; }

private:
    void StartMore();
    void SessionDone(std::size_t index);
    void CheckAllDone();
    // The file name of a session log: the device's default name, unique in this run.
    std::string LogFileName(const std::string& host);

    const script::Script& m_script;
    std::vector<PoolJob> m_jobs;
    int m_parallel;
    FinishedHook m_finished;
    std::function<void()> m_allDone;
    std::vector<DeviceResult> m_results;
    std::vector<std::unique_ptr<DeviceSession>> m_sessions;
    // Sessions that ended, destroyed from the event loop once their own call has returned.
    std::vector<std::unique_ptr<DeviceSession>> m_ended;
    std::set<std::string> m_logNames;
    std::size_t m_next = 0;
    int m_running = 0;
    bool m_stopping = false;
    bool m_allDoneSent = false;
    QObject m_queue;
};

}  // namespace vandrel::app
