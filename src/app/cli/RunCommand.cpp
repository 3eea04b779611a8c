#include "app/cli/RunCommand.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>

#include "app/cli/RunDevices.h"
#include "app/cli/RunReport.h"
#include "app/cli/ScanCommand.h"
#include "app/cli/SessionPool.h"
#include "app/cli/TerminationSignals.h"
#include "app/model/DeviceTable.h"
#include "app/model/ReadSmallFile.h"
#include "app/model/ReplaceFile.h"
#include "script/ScriptVariables.h"
#include "script/SessionScript.h"

namespace vandrel::app {

namespace {

// Everything a run needs, checked before anything is sent.
struct RunPlan {
    script::Script Script;
    std::optional<script::VariablesTable> Table;
    // The script uses a variable that only the table can give.
    bool NeedsRow = false;
    std::vector<RunTarget> Targets;
};

// A host list larger than this is no file a technician wrote.
constexpr std::size_t kMaxListBytes = 16 << 20;

bool ReadFile(const std::string& path, std::size_t limit, std::string& bytes, std::string& error) {
    const int failure = ReadSmallFile(path, limit, bytes);
    if (failure == EFBIG) {
        error = "cannot read " + path + ": larger than " + std::to_string(limit >> 20) + " MiB";
    } else if (failure != 0) {
        error = "cannot read " + path + ": " + std::strerror(failure);
    }
    return failure == 0;
}

std::string ReadScript(const std::string& path, RunPlan& plan) {
    std::string text;
    std::string error;
    if (!ReadFile(path, script::kMaxScriptBytes, text, error)) {
        return error;
    }
    auto parsed = script::ParseScript(text);
    if (const auto* syntax = std::get_if<script::ScriptError>(&parsed)) {
        return path + ":" + syntax->Text();
    }
    plan.Script = std::move(std::get<script::Script>(parsed));
    plan.NeedsRow = !script::UnknownVariables(plan.Script.VariableNames, {}).empty();
    return {};
}

std::string ReadVariables(const RunOptions& options, RunPlan& plan) {
    std::vector<std::string> columns;
    if (!options.VariablesFile.empty()) {
        std::string text;
        std::string error;
        if (!ReadFile(options.VariablesFile, script::kMaxVariablesBytes, text, error)) {
            return error;
        }
        plan.Table = script::VariablesTable::Parse(text, error);
        if (!plan.Table) {
            return options.VariablesFile + ": " + error;
        }
        columns = plan.Table->Columns();
    }
    const std::vector<std::string> unknown =
        script::UnknownVariables(plan.Script.VariableNames, columns);
    if (unknown.empty()) {
        return {};
    }
    return options.Script + ": no value for {" + unknown.front() + "}: neither the device nor " +
           (options.VariablesFile.empty() ? "a --vars file" : options.VariablesFile) + " gives it";
}

std::string PrepareLogDir(const std::string& dir) {
    if (dir.empty()) {
        return {};
    }
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (!error && ::access(dir.c_str(), W_OK | X_OK) != 0) {
        error = std::error_code(errno, std::generic_category());
    }
    return error ? "cannot write logs into " + dir + ": " + error.message() : std::string();
}

// The report is written once every device has ended: a path it cannot take is found before
// anything is sent, not after the devices were changed.
std::string CheckReportPath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::error_code ignored;
    int error = 0;
    if (std::filesystem::is_directory(path, ignored)) {
        error = EISDIR;
    } else {
        std::filesystem::path folder = std::filesystem::weakly_canonical(path, ignored);
        folder = folder.empty() ? std::filesystem::path(path).parent_path() : folder.parent_path();
        if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0) {
            error = errno;
        }
    }
    return error != 0 ? CannotWriteText(path, error) : std::string();
}

std::string FindDevices(const RunOptions& options, std::ostream& err, RunPlan& plan) {
    std::string error;
    if (!options.HostsFile.empty()) {
        std::string text;
        if (!ReadFile(options.HostsFile, kMaxListBytes, text, error)) {
            return error;
        }
        std::optional<std::vector<RunTarget>> targets = ReadHostList(text, error);
        if (!targets) {
            return options.HostsFile + ": " + error;
        }
        plan.Targets = std::move(*targets);
    } else if (options.Scan) {
        StringGrid grid = MakeDeviceGrid();
        if (DiscoverDevices(options.ScanWait, grid, err) == ScanError) {
            return "the search failed";
        }
        std::vector<std::string> skipped;
        plan.Targets = ConnectableDevices(grid, skipped);
        for (const std::string& device : skipped) {
            err << "vandrel: skipped " << device << "\n";
        }
    } else {
        for (const std::string& host : options.Hosts) {
            std::optional<RunTarget> target = ParseRunHost(host, error);
            if (!target) {
                return "--host " + error;
            }
            plan.Targets.push_back(std::move(*target));
        }
    }
    return plan.Targets.empty() ? "no devices to run on" : std::string();
}

std::optional<RunPlan> PrepareRun(const RunOptions& options, std::ostream& err) {
    RunPlan plan;
    std::string error = ReadScript(options.Script, plan);
    if (error.empty()) {
        error = ReadVariables(options, plan);
    }
    if (error.empty()) {
        error = PrepareLogDir(options.LogDir);
    }
    if (error.empty()) {
        error = CheckReportPath(options.Report);
    }
    if (error.empty()) {
        error = FindDevices(options, err, plan);
    }
    if (!error.empty()) {
        err << "vandrel: " << error << "\n";
        return std::nullopt;
    }
    return plan;
}

// The values of one device's variables: its own, and its table row's when the script needs it.
PoolJob MakeJob(const RunPlan& plan, const RunTarget& target, const RunOptions& options) {
    PoolJob job;
    job.Setup.Target = target;
    job.Setup.Timeout = options.SessionTimeout;
    job.LogDir = options.LogDir;
    const script::VariablesTable* table = plan.NeedsRow && plan.Table ? &*plan.Table : nullptr;
    if (auto values = script::VariablesFor(target.Device, table, job.Failure)) {
        job.Setup.Values = std::move(*values);
    }
    return job;
}

}  // namespace

int RunRunCommand(const RunOptions& options, std::ostream& out, std::ostream& err) {
    // Taken from the start, so that a signal during the scan still ends the run by its rules
    // once the event loop runs. The handler outlives this run; it reaches the pool only while
    // the run goes.
    auto stop = std::make_shared<std::function<void()>>();
    OnTerminationSignals([stop] {
        if (*stop) {
            (*stop)();
        }
    });
    std::optional<RunPlan> plan;
    try {
        plan = PrepareRun(options, err);
    } catch (const std::exception& e) {
        err << "vandrel: " << e.what() << "\n";
    }
    if (!plan) {
        return RunError;
    }
    std::vector<PoolJob> jobs;
    for (const RunTarget& target : plan->Targets) {
        jobs.push_back(MakeJob(*plan, target, options));
    }
    QElapsedTimer clock;
    clock.start();
    SessionPool pool(
        plan->Script, std::move(jobs), options.Parallel,
        [&](const DeviceResult& result, const std::string& logError) {
            out << DeviceResultLine(result) << std::endl;
            if (!logError.empty()) {
                err << "vandrel: " << result.Device.Ip << ": the session log stopped: " << logError
                    << "\n";
            }
        },
        [] { QCoreApplication::quit(); });
    bool interrupted = false;
    *stop = [&] {
        interrupted = true;
        pool.Stop("interrupted");
    };
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            // A Ctrl+C during the scan: no session starts, every device is "not run".
            if (TerminationSignalled()) {
                (*stop)();
            } else {
                pool.Start();
            }
        },
        Qt::QueuedConnection);
    QCoreApplication::exec();
    *stop = nullptr;

    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const std::vector<DeviceResult>& results = pool.Results();
    out << RunSummaryLine(results, seconds) << std::endl;
    bool allPassed = !interrupted;
    for (const DeviceResult& result : results) {
        allPassed = allPassed && result.Outcome == DeviceOutcome::Passed;
    }
    if (!options.Report.empty()) {
        if (const int error = WriteRunReport(options.Report, results, seconds); error != 0) {
            err << "vandrel: " << CannotWriteText(options.Report, error) << "\n";
            allPassed = false;
        }
    }
    return allPassed ? RunAllPassed : RunAnyFailed;
}

}  // namespace vandrel::app
