#include "BootLoader.h"

#include <algorithm>

namespace {

constexpr uint8_t kStart = 0xCC;
constexpr uint8_t kOk = 0x90, kCrc = 0x91, kProcess = 0x92, kLocked = 0x94;
constexpr size_t kMaxLength = 72;

// Bytes of a frame needed before its step (and for a write, its record) is known.
size_t BytesToKnow(BootStep step) {
    switch (step) {
        case BootStep::BitLockOn:
        case BootStep::BitLockOff:
            return 4;
        case BootStep::Write:
            return 5;
        default:
            return 3;
    }
}

}  // namespace

BootLoader::BootLoader(Options options)
    : options_(std::move(options)), flash_(kFlashSize, kFreshFlashByte) {}

void BootLoader::ClearFaults() {
    options_.faults.clear();
    dead_ = false;
    frame_.clear();
}

void BootLoader::Restart() {
    frame_.clear();
    bitLock_ = false;
}

std::optional<BootStep> BootLoader::StepOfFrame() const {
    if (frame_.size() < 3) return std::nullopt;
    switch (frame_[2]) {
        case 0x01:
            return BootStep::CardInit;
        case 0x10:
            return BootStep::Erase;
        case 0x20:
            if (frame_.size() < 4) return std::nullopt;
            return frame_[3] == 0x22 ? BootStep::BitLockOff : BootStep::BitLockOn;
        case 0x40:
            return BootStep::Write;
        case 0x50:
            return BootStep::ResetServer;
        case 0x60:
            return BootStep::ReadFirmwareNumber;
        default:
            return std::nullopt;
    }
}

int BootLoader::RecordOfFrame() const {
    if (frame_.size() < 5) return -1;
    return ((frame_[3] << 8) | frame_[4]) / 16;
}

const StepFault* BootLoader::FaultFor(BootStep step, StepFault::Kind kind) const {
    for (const StepFault& f : options_.faults) {
        if (f.step != step || f.kind != kind) continue;
        if (step == BootStep::Write && f.record >= 0 && f.record != RecordOfFrame()) continue;
        return &f;
    }
    return nullptr;
}

uint32_t BootLoader::StepTime(BootStep step) const {
    const auto it = options_.stepTimeMs.find(step);
    return it == options_.stepTimeMs.end() ? 1 : it->second;
}

BootLoader::Outcome BootLoader::Reply(BootStep step, uint8_t code) const {
    return {Outcome::Answer, {code}, StepTime(step)};
}

BootLoader::Outcome BootLoader::Feed(uint8_t byte) {
    if (dead_) return Outcome::Just(Outcome::Quiet);
    if (frame_.empty() && byte != kStart) return Outcome::Just(Outcome::Stray);
    frame_.push_back(byte);
    if (frame_.size() == 2 && (byte == 0 || byte > kMaxLength)) {
        frame_.clear();  // not a frame after all
        return Outcome::Just(Outcome::Quiet);
    }

    const std::optional<BootStep> step = StepOfFrame();
    if (step) {
        if (const StepFault* drop = FaultFor(*step, StepFault::DropLine)) {
            const bool whole = frame_.size() >= 2 && frame_.size() == size_t{frame_[1]} + 3;
            const bool due = drop->afterBytes == StepFault::kWholeFrame
                                 ? whole
                                 : frame_.size() == std::max(drop->afterBytes, BytesToKnow(*step));
            if (due) {
                dead_ = true;
                frame_.clear();
                return Outcome::Just(Outcome::Drop);
            }
        }
    }
    if (frame_.size() < 2 || frame_.size() < size_t{frame_[1]} + 3)
        return Outcome::Just(Outcome::Pending);

    Outcome outcome = Complete(step);
    frame_.clear();
    return outcome;
}

BootLoader::Outcome BootLoader::Complete(std::optional<BootStep> step) {
    if (!step) return {Outcome::Answer, {kProcess}, 1};
    steps_.push_back(*step);
    if (FaultFor(*step, StepFault::Silent)) {
        dead_ = true;
        return Outcome::Just(Outcome::Quiet);
    }
    if (const StepFault* f = FaultFor(*step, StepFault::Answer)) return Reply(*step, f->code);

    uint8_t check = 0;
    for (size_t i = 0; i + 1 < frame_.size(); ++i) check ^= frame_[i];
    if (check != frame_.back()) return Reply(*step, kCrc);
    return Execute(*step);
}

BootLoader::Outcome BootLoader::Execute(BootStep step) {
    const size_t length = frame_[1];
    switch (step) {
        case BootStep::CardInit:
            return Reply(step, options_.server || length != 1 ? kProcess : kOk);
        case BootStep::BitLockOn:
        case BootStep::BitLockOff:
            if (length != 2 || (frame_[3] != 0x55 && frame_[3] != 0x22))
                return Reply(step, kProcess);
            bitLock_ = step == BootStep::BitLockOn;
            return Reply(step, kOk);
        case BootStep::Erase:
            if (!bitLock_) return Reply(step, kLocked);
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            erased_ = true;
            ++eraseCount_;
            return Reply(step, kOk);
        case BootStep::Write: {
            if (!bitLock_) return Reply(step, kLocked);
            const uint16_t address = static_cast<uint16_t>((frame_[3] << 8) | frame_[4]);
            const size_t record = address / 16;
            if (length != 72 || !erased_ || address % 16 != 0 || record >= 220)
                return Reply(step, kProcess);
            std::copy_n(frame_.begin() + 5, 69, flash_.begin() + record * 69);
            writeAddresses_.push_back(address);
            return Reply(step, kOk);
        }
        case BootStep::ReadFirmwareNumber:
            return {Outcome::Answer, {0x60, options_.firmwareNumber, kOk}, StepTime(step)};
        case BootStep::ResetServer:
            if (!options_.server) return Reply(step, kProcess);
            Restart();
            return Outcome::Just(Outcome::Restart);
    }
    return Reply(step, kProcess);
}
