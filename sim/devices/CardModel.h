#pragma once

#include <vector>

#include "BootLoader.h"
#include "DeviceCore.h"

// A Quorvant II card's boot loader: behind the server (plain link, reached through the
// server's pass-through) or in a card reader, which echoes every byte the host sends and
// whose RTS line resets the card; after the reset the card sends its answer to reset.
class CardModel : public DeviceCore {
  public:
    struct Options {
        BootLoader::Options boot;
        bool inReader = false;
        std::vector<uint8_t> atr{0xAA, 0xAA, 0xB3, 0x3B, 0x02, 0x14};
        uint32_t atrDelayMs = 20;  // from the end of the reset pulse to the first byte
        // Also answer to reset when the host opens the port (a line without RTS, such as a
        // pseudo-terminal).
        bool atrOnPowerOn = false;
        LineFault atAnswerToReset = LineFault::None;  // instead of the answer to reset
        // The card holds its line low (a break) from the start of its reset.
        bool breakInReset = false;
    };

    explicit CardModel(Options options);

    void PowerOn(uint32_t now) override;
    void RtsChanged(bool high, uint32_t now) override;
    void Replugged() override;

    const BootLoader& Boot() const { return boot_; }
    int ResetCount() const { return resetCount_; }

  protected:
    void OnByte(uint8_t byte, uint32_t now) override;

  private:
    void AnswerToReset(uint32_t now);

    Options options_;
    BootLoader boot_;
    bool rts_ = false;
    bool dropped_ = false;
    int resetCount_ = 0;
};
