#include "CardModel.h"

CardModel::CardModel(Options options)
    : options_(std::move(options)), boot_([this] {
          BootLoader::Options boot = options_.boot;
          boot.server = false;
          return boot;
      }()) {}

void CardModel::PowerOn(uint32_t now) {
    if (options_.inReader && options_.atrOnPowerOn && !dropped_) AnswerToReset(now);
}

void CardModel::RtsChanged(bool high, uint32_t now) {
    const bool falling = rts_ && !high;
    rts_ = high;
    if (!options_.inReader || dropped_) return;
    if (high) boot_.Restart();
    if (high && options_.breakInReset) EmitBreak(now);
    if (falling) AnswerToReset(now);
}

void CardModel::Replugged() {
    boot_.ClearFaults();
    options_.atAnswerToReset = LineFault::None;
    dropped_ = false;
}

void CardModel::AnswerToReset(uint32_t now) {
    if (options_.atAnswerToReset != LineFault::None) {
        dropped_ = true;
        if (options_.atAnswerToReset == LineFault::Drop) DropLine(now + options_.atrDelayMs);
        return;
    }
    ++resetCount_;
    boot_.Restart();
    for (uint8_t b : options_.atr) Emit(b, now + options_.atrDelayMs);
}

void CardModel::OnByte(uint8_t byte, uint32_t now) {
    if (dropped_) return;
    if (options_.inReader) Emit(byte, now);  // the reader's echo, whatever the card does
    if (!Carry(boot_.Feed(byte), now)) dropped_ = true;
}
