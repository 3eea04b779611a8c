#include "app/cli/SessionPool.h"

#include "app/model/LogFileName.h"

namespace vandrel::app {

SessionPool::SessionPool(const script::Script& script, std::vector<PoolJob> jobs, int parallel,
                         FinishedHook finished, std::function<void()> allDone)
    : m_script(script),
      m_jobs(std::move(jobs)),
      m_parallel(parallel),
      m_finished(std::move(finished)),
      m_allDone(std::move(allDone)),
      m_results(m_jobs.size()),
      m_sessions(m_jobs.size()) {
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        m_results[i].Device = m_jobs[i].Setup.Target.Device;
    }
}

SessionPool::~SessionPool() = default;

void SessionPool::Start() {
    StartMore();
    CheckAllDone();
}

void SessionPool::Stop(const std::string& reason) {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    for (const std::unique_ptr<DeviceSession>& session : m_sessions) {
        if (session) {
            session->Stop(reason);
        }
    }
    CheckAllDone();
}

void SessionPool::StartMore() {
    while (!m_stopping && m_running < m_parallel && m_next < m_jobs.size()) {
        const std::size_t index = m_next++;
        PoolJob& job = m_jobs[index];
        if (!job.Failure.empty()) {
            m_results[index].Outcome = DeviceOutcome::Failed;
            m_results[index].Reason = job.Failure;
            m_finished(m_results[index], {});
            continue;
        }
        if (!job.LogDir.empty()) {
            job.Setup.LogPath = job.LogDir + "/" + LogFileName(job.Setup.Target.Device.Ip);
        }
        m_sessions[index] = std::make_unique<DeviceSession>(m_script, std::move(job.Setup),
                                                            [this, index] { SessionDone(index); });
        ++m_running;
        m_sessions[index]->Start();
    }
}

std::string SessionPool::LogFileName(const std::string& host) {
    const std::string base = FormatLogFileName(host, SystemLocalDateTime());
    std::string name = base;
    // Two sessions to one device in the same minute get logs of their own.
    for (int n = 2; !m_logNames.insert(name).second; ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name + ".txt";
}

void SessionPool::SessionDone(std::size_t index) {
    std::unique_ptr<DeviceSession>& session = m_sessions[index];
    m_results[index] = session->Result();
    --m_running;
    m_finished(m_results[index], session->LogError());
    m_ended.push_back(std::move(session));
    QMetaObject::invokeMethod(
        &m_queue, [this] { m_ended.clear(); }, Qt::QueuedConnection);
    StartMore();
    CheckAllDone();
}

void SessionPool::CheckAllDone() {
    if (m_allDoneSent || m_running > 0 || (!m_stopping && m_next < m_jobs.size())) {
        return;
    }
    m_allDoneSent = true;
    QMetaObject::invokeMethod(
        &m_queue, [this] { m_allDone(); }, Qt::QueuedConnection);
}

}  // namespace vandrel::app
