#pragma once

#include <QObject>
#include <QString>

#include <map>
#include <string>
#include <vector>

#include "app/model/ScriptSummary.h"
#include "script/SessionScript.h"

namespace vandrel::terminal {
class TTnEmulT;
}  // namespace vandrel::terminal

namespace vandrel::app {

class ScriptSession;

// One script run on several sessions in parallel, each on its own ScriptSession, with the
// devices that failed before anything was sent. Ended is emitted from the event loop once
// every device has finished.
class ScriptBatch : public QObject {
    Q_OBJECT
public:
    ScriptBatch(script::Script script, QObject* parent);
    ~ScriptBatch() override;

    // A device the script is to run on, with every value the script uses.
    ScriptSession& Add(terminal::TTnEmulT& terminal, std::string device,
                       std::map<std::string, std::string> values);
    // A device that fails with reason before anything is sent to it.
    void AddFailed(std::string device, std::string ip, std::string reason);
    void Start();
    // Every run still going fails with reason.
    void Cancel(const std::string& reason);

    bool Done() const;
    // The progress shown in terminal's tab ("script 3/9"); empty when none runs on it.
    QString ProgressOf(const terminal::TTnEmulT* terminal) const;
    // Each device's outcome, in the order they were added.
    std::vector<ScriptDeviceResult> Results() const;

signals:
    void ProgressChanged();
    void Ended();

private:
    struct Entry {
        std::string Device;
        std::string Ip;
        ScriptSession* Session = nullptr;  // nullptr for a device that failed before
        script::RunOutcome Failed;
    };
    void CheckEnded();

    script::Script m_script;
    std::vector<Entry> m_entries;
    bool m_ended = false;
};

}  // namespace vandrel::app
