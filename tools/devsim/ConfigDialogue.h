#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vandrel::devsim {

// The IP settings a device keeps.
struct IpSettings {
    std::uint32_t ip = 0;
    std::uint32_t netmask = 0;
    std::uint32_t gateway = 0;  // 0.0.0.0 means none

    bool operator==(const IpSettings&) const = default;
};

// The IP configuration dialogue that the "#" command opens: asks for IP address,
// netmask and gateway (Enter keeps the shown value), validates each answer and asks
// again until it is valid, shows a summary and saves only on "y". Lines in, text out;
// the caller owns the connection and applies saved().
class ConfigDialogue {
public:
    explicit ConfigDialogue(const IpSettings& current);

    std::string start();
    std::string onLine(const std::string& line);
    std::string cancel();

    bool finished() const { return m_step == Step::Done; }
    const std::optional<IpSettings>& saved() const { return m_saved; }

private:
    enum class Step { Ip, Netmask, Gateway, Confirm, Done };

    std::string prompt() const;
    std::string answerIp(const std::string& line);
    std::string answerNetmask(const std::string& line);
    std::string answerGateway(const std::string& line);
    std::string answerConfirm(const std::string& line);
    std::string summary() const;

    Step m_step = Step::Ip;
    IpSettings m_current;
    IpSettings m_new;
    std::optional<IpSettings> m_saved;
};

}  // namespace vandrel::devsim
