#pragma once

#include <optional>
#include <vector>

#include "BootLoader.h"
#include "CardModel.h"
#include "DeviceCore.h"

// A Quorvant II server. After a reset (the falling edge of an RTS pulse) or, when so set, at
// power-on (the host opening the port) its boot loader greets; the boot loader stays for the
// host's acknowledgement 0xD3 during a short window, then the server's own program starts.
// Acknowledged, it takes command frames. The running program answers the probe AA BB once it
// has initialised and, on the answer 0xAA, passes every byte through to the card behind it.
class ServerModel : public DeviceCore {
  public:
    struct Options {
        BootLoader::Options boot;
        std::vector<uint8_t> greeting{0xAA, 0xAA, 0xD3};
        uint32_t greetDelayMs = 50;  // from the reset to the greeting
        bool greetOnReset = true;
        bool greetOnPowerOn = false;
        uint32_t bootWindowMs = 500;                // after the greeting, for the acknowledgement
        uint32_t readyMs = 2000;                    // from the reset until the probe is answered
        std::optional<uint8_t> probeAnswer = 0xAA;  // none: the probe goes unanswered
        uint32_t probeBaud = 0;  // the probe is understood only at this speed (0: any)
        // What the server's own program says on the line after power-on, before any reset.
        std::vector<uint8_t> chatter;
        LineFault atGreeting = LineFault::None;  // instead of greeting
        LineFault atProbe = LineFault::None;     // at the first probe
    };

    enum class State : uint8_t { Program, Greeted, Boot, PassThrough };

    explicit ServerModel(Options options, CardModel* card = nullptr);

    void PowerOn(uint32_t now) override;
    void RtsChanged(bool high, uint32_t now) override;
    void Replugged() override;

    State CurrentState() const { return state_; }
    const BootLoader& Boot() const { return boot_; }
    bool Acknowledged() const { return acknowledged_; }
    int GreetingCount() const { return greetings_; }
    int ProbesAnswered() const { return probesAnswered_; }
    // Line settings at the probe that opened the pass-through.
    const std::optional<LineConfig>& PassThroughLine() const { return passThroughLine_; }

  protected:
    void OnByte(uint8_t byte, uint32_t now) override;

  private:
    // Forwards the card's answers while the pass-through is open.
    class CardSide : public DeviceLine {
      public:
        explicit CardSide(ServerModel& server) : server_(server) {}
        void Send(uint8_t byte, uint32_t atTick) override;
        void Break(uint32_t atTick) override { (void)atTick; }  // the server takes it
        void Drop(uint32_t atTick) override;

      private:
        ServerModel& server_;
    };

    void Greet(uint32_t now);
    void OnProbeByte(uint8_t byte, uint32_t now);
    // Carries out a fault at a step of the server's own; false when there was none.
    bool Fail(LineFault& fault, uint32_t now);

    Options options_;
    CardModel* card_;
    CardSide cardSide_{*this};
    BootLoader boot_;
    State state_ = State::Program;
    uint32_t resetTick_ = 0;
    uint32_t bootWindowEnd_ = 0;
    bool rts_ = false;
    bool dead_ = false;
    bool acknowledged_ = false;
    bool probeStarted_ = false;
    int greetings_ = 0;
    int probesAnswered_ = 0;
    std::optional<LineConfig> passThroughLine_;
};
