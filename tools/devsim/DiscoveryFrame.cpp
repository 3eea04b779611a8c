#include "DiscoveryFrame.h"

#include <cstdio>

namespace vandrel::devsim {

namespace {

constexpr char kPadByte = 'X';

std::string frameBody(const DeviceFields& fields, int count, std::size_t serialPad) {
    std::string body;
    body += fields.device;
    body += kFieldSeparator;
    body += fields.serial;
    body.append(serialPad, kPadByte);
    body += kFieldSeparator;
    body += fields.ip;
    body += kFieldSeparator;
    body += fields.mac;
    if (count >= 5) {
        body += kFieldSeparator;
        body += fields.status;
    }
    if (count >= 6) {
        body += kFieldSeparator;
        body += "extra";
    }
    return body;
}

}  // namespace

std::string buildReply(const DeviceFields& fields, const FrameShape& shape) {
    if (shape.useRaw) {
        return shape.rawBytes;
    }
    std::string body = frameBody(fields, shape.fields, 0);
    std::size_t size = body.size() + 2;
    if (shape.padTo > size) {
        body = frameBody(fields, shape.fields, shape.padTo - size);
    }
    std::string frame;
    frame.reserve(body.size() + 2);
    frame += shape.badStart ? '\x01' : kFrameStart;
    frame += body;
    frame += shape.badEnd ? '\x03' : kFrameEnd;
    return frame;
}

std::string macForAddress(std::uint32_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "02:00:%02X:%02X:%02X:%02X", (address >> 24) & 0xFF,
                  (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    return text;
}

}  // namespace vandrel::devsim
