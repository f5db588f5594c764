#include "DeviceCore.h"

std::vector<uint8_t> DeviceCore::ReceivedBytes() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(received_.size());
    for (const ReceivedByte& r : received_) bytes.push_back(r.byte);
    return bytes;
}
