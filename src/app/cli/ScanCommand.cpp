#include "app/cli/ScanCommand.h"

#include <cstdint>
#include <exception>
#include <ostream>
#include <thread>

#include "app/cli/ScanOptions.h"
#include "app/cli/ScanOutput.h"
#include "app/model/DeviceTable.h"
#include "discovery/ByteStream.h"
#include "discovery/SearchInterfaces.h"
#include "discovery/TUDPServer.h"
#include "discovery/TUDPSocketHandle.h"

namespace vandrel::app {

namespace {

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return discovery::SingleLine(e.what());
    } catch (...) {
        return "unknown error";
    }
}

// Replies are taken as the window takes them; they arrive on the endpoint's listener
// thread, and the table is read only after that thread has ended.
class ScanCollector {
public:
    explicit ScanCollector(std::ostream& err) : m_err(err) {}

    void Read(discovery::ByteStream& data, const discovery::TUDPSocketHandle& binding) {
        if (data.Size() > MaxReplySize) {
            return;
        }
        const ReplyFrame frame = CheckReplyFrame(data.Memory(), data.Size());
        if (frame.Kind == ReplyKind::Invalid) {
            m_err << InvalidStringText << " (from " << binding.PeerIP() << ")\n";
        } else if (frame.Kind == ReplyKind::Accept) {
            AddDeviceRow(m_grid, frame.Payload);
            ++m_accepted;
        }
    }

    const StringGrid& Grid() const { return m_grid; }
    int Accepted() const { return m_accepted; }

private:
    std::ostream& m_err;
    StringGrid m_grid = MakeDeviceGrid();
    int m_accepted = 0;
};

int Scan(const ScanOptions& options, std::ostream& out, std::ostream& err) {
    StringGrid grid = MakeDeviceGrid();
    const int status = DiscoverDevices(options.Timeout, grid, err);
    if (status != ScanError) {
        out << FormatScanResult(grid, options.Format);
        out.flush();
    }
    return status;
}

}  // namespace

int DiscoverDevices(std::chrono::milliseconds wait, StringGrid& grid, std::ostream& err) {
    ScanCollector collector(err);
    discovery::TUDPServer endpoint;
    endpoint.SetDefaultPort(DiscoveryPort);
    endpoint.OnUDPRead = [&collector](discovery::TUDPServer&, discovery::ByteStream& data,
                                      discovery::TUDPSocketHandle& binding) {
        collector.Read(data, binding);
    };
    try {
        endpoint.SetActive(true);
    } catch (...) {
        err << "vandrel: " << ErrorText(std::current_exception()) << "\n";
        return ScanError;
    }
    const discovery::SearchReport report =
        discovery::SendSearch(endpoint, std::string(1, DiscoveryRequest), DiscoveryPort,
                              discovery::SearchScope::AllInterfaces);
    err << discovery::SearchSummary(report.Searched) << "\n";
    if (!report.AnySent) {
        err << "vandrel: "
            << (report.LimitedError ? ErrorText(report.LimitedError) : "nothing could be sent")
            << "\n";
        return ScanError;
    }
    std::this_thread::sleep_for(wait);
    endpoint.SetActive(false);
    grid = collector.Grid();
    return collector.Accepted() > 0 ? ScanFound : ScanNoneFound;
}

int RunScanCommand(const ScanOptions& options, std::ostream& out, std::ostream& err) {
    try {
        return Scan(options, out, err);
    } catch (...) {
        err << "vandrel: " << ErrorText(std::current_exception()) << "\n";
        return ScanError;
    }
}

}  // namespace vandrel::app
