#include "PosixBackend.h"

// Skeleton: every port is absent until the termios implementation lands.
namespace {
class PosixBackend final : public SerialBackend {
  public:
    SerialHandle Open(const std::string&) override { return kInvalidSerialHandle; }
    void Close(SerialHandle) override {}
    bool SetLineSettings(SerialHandle, const LineSettings&) override { return false; }
    bool SetQueueSizes(SerialHandle, uint32_t, uint32_t) override { return false; }
    bool Purge(SerialHandle, bool, bool) override { return false; }
    bool QueueCounts(SerialHandle, uint32_t&, uint32_t&) override { return false; }
    bool ModemStatus(SerialHandle, ModemLines&) override { return false; }
    bool SetRts(SerialHandle, bool) override { return false; }
    bool SetDtr(SerialHandle, bool) override { return false; }
    int32_t Read(SerialHandle, uint8_t*, uint32_t) override { return -1; }
    int32_t Write(SerialHandle, const uint8_t*, uint32_t) override { return -1; }
    WaitResult WaitReadable(SerialHandle, uint32_t) override { return WaitResult::Failed; }
    WaitResult WaitWritable(SerialHandle, uint32_t) override { return WaitResult::Failed; }
};
}  // namespace

SerialBackend& PosixSerialBackend() {
    static PosixBackend backend;
    return backend;
}
