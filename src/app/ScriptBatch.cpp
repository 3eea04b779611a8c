#include "app/ScriptBatch.h"

#include <algorithm>

#include "app/ScriptSession.h"
#include "terminal/TTnEmulT.h"

namespace vandrel::app {

namespace {

// The last lines of a failed device's output the summary shows.
constexpr std::size_t kSummaryLines = 3;

}  // namespace

ScriptBatch::ScriptBatch(script::Script script, QObject* parent)
    : QObject(parent), m_script(std::move(script)) {}

ScriptBatch::~ScriptBatch() {
    // The sessions refer to the script: they go first.
    for (Entry& entry : m_entries) {
        delete entry.Session;
        entry.Session = nullptr;
    }
}

ScriptSession& ScriptBatch::Add(terminal::TTnEmulT& terminal, std::string device,
                                std::map<std::string, std::string> values) {
    auto* session = new ScriptSession(m_script, std::move(values), terminal, this);
    connect(session, &ScriptSession::ProgressChanged, this, &ScriptBatch::ProgressChanged);
    connect(session, &ScriptSession::Ended, this, &ScriptBatch::CheckEnded);
    m_entries.push_back({std::move(device), terminal.HostName(), session, {}});
    return *session;
}

void ScriptBatch::AddFailed(std::string device, std::string ip, std::string reason) {
    script::RunOutcome failed;
    failed.Finished = true;
    failed.Reason = std::move(reason);
    m_entries.push_back({std::move(device), std::move(ip), nullptr, std::move(failed)});
}

void ScriptBatch::Start() {
    for (const Entry& entry : m_entries) {
        if (entry.Session != nullptr) {
            entry.Session->Start();
        }
    }
    // Without a session to wait for, the end comes from the event loop all the same.
    QMetaObject::invokeMethod(this, &ScriptBatch::CheckEnded, Qt::QueuedConnection);
}

void ScriptBatch::Cancel(const std::string& reason) {
    for (const Entry& entry : m_entries) {
        if (entry.Session != nullptr) {
            entry.Session->Cancel(reason);
        }
    }
}

bool ScriptBatch::Done() const {
    return std::all_of(m_entries.begin(), m_entries.end(), [](const Entry& entry) {
        return entry.Session == nullptr || entry.Session->Done();
    });
}

QString ScriptBatch::ProgressOf(const terminal::TTnEmulT* terminal) const {
    for (const Entry& entry : m_entries) {
        if (entry.Session != nullptr && entry.Session->Terminal() == terminal) {
            return entry.Session->ProgressText();
        }
    }
    return {};
}

std::vector<ScriptDeviceResult> ScriptBatch::Results() const {
    std::vector<ScriptDeviceResult> results;
    for (const Entry& entry : m_entries) {
        ScriptDeviceResult result{entry.Device, entry.Ip, entry.Failed, {}};
        if (entry.Session != nullptr) {
            result.Outcome = entry.Session->Outcome();
            if (!result.Outcome.Passed) {
                result.LastLines = LastLines(entry.Session->Received(), kSummaryLines);
            }
        }
        results.push_back(std::move(result));
    }
    return results;
}

void ScriptBatch::CheckEnded() {
    if (!m_ended && Done()) {
        m_ended = true;
        emit Ended();
    }
}

}  // namespace vandrel::app
