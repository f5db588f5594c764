#include "Floor.h"

#include <stdexcept>

namespace {

constexpr double kRate = 9600;
constexpr int kWriteFrame = 75;  // CC 48 40, address, 69 record bytes, check
constexpr int kFrames = 220;

// The simulator's own times (sim/devices, sim/ptydevices with their defaults).
constexpr double kServerResetAfterOpenMs = 600;  // stands in for the program's RTS pulse
constexpr double kGreetingDelayMs = 50;
constexpr double kStepMs = 1;           // every boot-loader step
constexpr double kOpenNoticedMs = 2.5;  // the simulator looks for an opening every 5 ms
// Device time runs in whole milliseconds: a byte that has arrived at t is handled at the
// tick below t, half a millisecond early on average.
constexpr double kTickMs = -0.5;

class Path {
  public:
    explicit Path(int bitsPerByte)
        : byteMs_(static_cast<int>(bitsPerByte * 1e6 / kRate) / 1000.0) {}

    void Pause(double ms) { floor_.pausesMs += ms; }
    void Device(double ms) { floor_.deviceMs += ms; }
    void Bytes(int n) { floor_.lineMs += n * byteMs_; }
    // A frame of n bytes on the plain link and a reply of r bytes.
    void Plain(int n, int r) {
        Bytes(n + r);
        Device(kStepMs + kTickMs);
    }
    // A frame of n bytes on the echoing link, each byte sent once its echo is back, and a
    // reply of r bytes. The step time is spent while the last echo crosses the line.
    void Echoed(int n, int r) {
        Bytes(2 * n + r);
        Device(n * kTickMs);
    }
    // A write frame on the echoing link: the echoes follow the frame one byte behind, and
    // the reply follows the last echo.
    void EchoedWriteFrame() { Bytes(kWriteFrame + 2); }

    Floor Result() const { return floor_; }

  private:
    double byteMs_;
    Floor floor_;
};

Floor ServerKind1() {
    Path p(10);
    // OpenServerBoot: the server greets AA AA D3 after its reset.
    p.Device(kOpenNoticedMs + kServerResetAfterOpenMs + kGreetingDelayMs + kTickMs);
    p.Bytes(3);
    p.Pause(1100);  // the acknowledgement D3 crosses in here
    p.Plain(4, 3);  // ReadFirmwareNumber
    // FlashServer.
    p.Pause(200);   // DrainInput finds nothing
    p.Plain(5, 1);  // BitLock on
    p.Pause(10);
    p.Plain(4, 1);  // erase
    p.Pause(10);
    for (int n = 0; n < kFrames; ++n) p.Plain(kWriteFrame, 1);
    // ResetServer is written and not waited for.
    return p.Result();
}

Floor CardThroughServerKind3() {
    Path p(10);
    // OpenViaServer: 500 ms, the RTS pulse of 100 ms, 8000 ms; then one probe cycle of
    // 300 ms, answered within it.
    p.Pause(500 + 100 + 8000 + 300);
    // FlashCardViaServer; the card answers through the server at the server's line times.
    p.Pause(200);   // DrainInput finds nothing
    p.Plain(4, 1);  // CardInit
    p.Pause(700 + 50);
    p.Plain(5, 1);  // BitLock on
    p.Pause(10);
    p.Plain(4, 1);  // erase
    p.Pause(10);
    for (int n = 0; n < kFrames; ++n) {
        p.Plain(kWriteFrame, 1);
        p.Pause(1);
    }
    p.Pause(10);
    p.Plain(5, 1);  // BitLock off
    return p.Result();
}

Floor CardInReaderKind4() {
    Path p(12);
    // OpenCardBoot: RTS 100 ms, 800 ms (the answer to reset arrives in here), 500 ms after
    // "Tryb Boot dla karty aktywny."; the rest of the answer waits and is drained at once.
    p.Pause(100 + 800 + 500);
    p.Echoed(4, 3);  // ReadFirmwareNumber
    // FlashCardDirect.
    p.Pause(200);    // DrainInput finds nothing
    p.Echoed(5, 1);  // BitLock on
    p.Pause(10);
    p.Echoed(4, 1);  // erase
    p.Pause(10);
    for (int n = 0; n < kFrames; ++n) {
        p.EchoedWriteFrame();
        p.Pause(1);
    }
    p.Pause(10);
    p.Echoed(5, 1);  // BitLock off
    return p.Result();
}

}  // namespace

Floor FloorOf(int kind) {
    switch (kind) {
        case 1:
            return ServerKind1();
        case 3:
            return CardThroughServerKind3();
        case 4:
            return CardInReaderKind4();
        default:
            throw std::invalid_argument("no floor for kind " + std::to_string(kind));
    }
}
