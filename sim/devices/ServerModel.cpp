#include "ServerModel.h"

namespace {
constexpr uint8_t kAck = 0xD3;
constexpr uint8_t kProbeFirst = 0xAA;
constexpr uint8_t kProbeSecond = 0xBB;
constexpr uint8_t kPassThroughOn = 0xAA;
}  // namespace

ServerModel::ServerModel(Options options, CardModel* card)
    : options_(std::move(options)), card_(card), boot_([this] {
          BootLoader::Options boot = options_.boot;
          boot.server = true;
          return boot;
      }()) {
    if (card_) card_->Attach(&cardSide_);
}

void ServerModel::CardSide::Send(uint8_t byte, uint32_t atTick) {
    if (server_.state_ == State::PassThrough) server_.Emit(byte, atTick);
}

void ServerModel::CardSide::Drop(uint32_t atTick) {
    server_.dead_ = true;
    server_.DropLine(atTick);
}

void ServerModel::PowerOn(uint32_t now) {
    if (dead_) return;
    for (uint8_t b : options_.chatter) Emit(b, now);
    if (options_.greetOnPowerOn) Greet(now);
}

void ServerModel::Replugged() {
    boot_.ClearFaults();
    options_.atGreeting = options_.atProbe = LineFault::None;
    dead_ = false;
    state_ = State::Program;
    if (card_) card_->Replugged();
}

bool ServerModel::Fail(LineFault& fault, uint32_t now) {
    if (fault == LineFault::None) return false;
    dead_ = true;
    if (fault == LineFault::Drop) DropLine(now);
    return true;
}

void ServerModel::RtsChanged(bool high, uint32_t now) {
    const bool falling = rts_ && !high;
    rts_ = high;
    if (falling && !dead_ && options_.greetOnReset) Greet(now);
}

void ServerModel::Greet(uint32_t now) {
    if (Fail(options_.atGreeting, now + options_.greetDelayMs)) return;
    boot_.Restart();
    state_ = State::Greeted;
    acknowledged_ = false;
    probeStarted_ = false;
    resetTick_ = now;
    const uint32_t at = now + options_.greetDelayMs;
    bootWindowEnd_ = at + options_.bootWindowMs;
    ++greetings_;
    for (uint8_t b : options_.greeting) Emit(b, at);
}

void ServerModel::OnByte(uint8_t byte, uint32_t now) {
    if (dead_) return;
    if (state_ == State::Greeted && now >= bootWindowEnd_) state_ = State::Program;
    switch (state_) {
        case State::PassThrough:
            if (card_) card_->Receive(byte, now);
            return;
        case State::Greeted:
            if (byte == kAck) {
                acknowledged_ = true;
                state_ = State::Boot;
            }
            return;
        case State::Program:
            OnProbeByte(byte, now);
            return;
        case State::Boot:
            break;
    }
    const BootLoader::Outcome out = boot_.Feed(byte);
    if (!Carry(out, now)) {
        dead_ = true;
    } else if (out.kind == BootLoader::Outcome::Restart) {
        state_ = State::Program;
        resetTick_ = now;
    }
}

void ServerModel::OnProbeByte(uint8_t byte, uint32_t now) {
    if (options_.probeBaud != 0 && Line().baudRate != options_.probeBaud) {
        probeStarted_ = false;  // garbled at the wrong speed
        return;
    }
    if (byte == kProbeFirst) {
        if (Fail(options_.atProbe, now)) return;
        probeStarted_ = true;
        return;
    }
    const bool probe = probeStarted_ && byte == kProbeSecond;
    probeStarted_ = false;
    if (!probe || now - resetTick_ < options_.readyMs || !options_.probeAnswer) return;
    ++probesAnswered_;
    Emit(*options_.probeAnswer, now + 1);
    if (*options_.probeAnswer == kPassThroughOn) {
        state_ = State::PassThrough;
        passThroughLine_ = Line();
    }
}
