#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vandrel::devsim {

// The five texts of a discovery reply, in frame order.
struct DeviceFields {
    std::string device;
    std::string serial;
    std::string ip;
    std::string mac;
    std::string status;
};

// How a reply deviates from a well-formed frame; the defaults give a correct one.
struct FrameShape {
    int fields = 5;         // 4 leaves out Status, 6 adds an extra field after it
    bool badStart = false;  // first byte 0x01 instead of 0x02
    bool badEnd = false;    // last byte 0x03 instead of 0x04
    std::size_t padTo = 0;  // grow the S/N field until the datagram has this many bytes
    bool useRaw = false;    // send rawBytes instead of a frame
    std::string rawBytes;
};

inline constexpr char kFrameStart = 0x02;
inline constexpr char kFrameEnd = 0x04;
inline constexpr char kFieldSeparator = 0x1F;
inline constexpr unsigned char kDiscoveryRequest = 0x05;

// Builds one reply datagram. Padding never shrinks a frame that is already longer.
std::string buildReply(const DeviceFields& fields, const FrameShape& shape);

// A locally administered MAC derived from the device's address, so that every
// simulated device in a lab has a different one without configuration.
std::string macForAddress(std::uint32_t address);

}  // namespace vandrel::devsim
