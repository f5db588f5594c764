#include "DeviceFaults.h"

#include <charconv>

namespace {

std::optional<FaultTarget> TargetOf(std::string_view who) {
    if (who == "server") return FaultTarget::Server;
    if (who == "card") return FaultTarget::ServerCard;
    if (who == "reader") return FaultTarget::ReaderCard;
    return std::nullopt;
}

std::optional<BootStep> StepOf(std::string_view name) {
    static constexpr std::pair<std::string_view, BootStep> kSteps[] = {
        {"init", BootStep::CardInit},
        {"bitlock-on", BootStep::BitLockOn},
        {"bitlock-off", BootStep::BitLockOff},
        {"erase", BootStep::Erase},
        {"write", BootStep::Write},
        {"firmware-number", BootStep::ReadFirmwareNumber},
        {"reset", BootStep::ResetServer},
    };
    for (const auto& [text, step] : kSteps)
        if (text == name) return step;
    return std::nullopt;
}

template <typename T>
std::optional<T> NumberOf(std::string_view text, int base) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

}  // namespace

std::optional<DeviceFault> ParseDeviceFault(std::string_view text) {
    const size_t colon = text.find(':');
    const size_t equals = text.find('=');
    if (colon == std::string_view::npos || equals == std::string_view::npos || equals < colon)
        return std::nullopt;
    const std::optional<FaultTarget> target = TargetOf(text.substr(0, colon));
    std::string_view step = text.substr(colon + 1, equals - colon - 1);
    const std::string_view what = text.substr(equals + 1);
    if (!target) return std::nullopt;

    DeviceFault result{*target, {}};
    const bool greeting = step == "greeting" && *target != FaultTarget::ServerCard;
    const bool probe = step == "probe" && *target == FaultTarget::Server;
    if (greeting || probe) {
        result.own = greeting ? OwnStep::Greeting : OwnStep::Probe;
        if (what == "silent") {
            result.ownFault = LineFault::Silent;
        } else if (what == "drop") {
            result.ownFault = LineFault::Drop;
        } else {
            return std::nullopt;
        }
        return result;
    }
    if (const size_t at = step.find('@'); at != std::string_view::npos) {
        const std::optional<int> record = NumberOf<int>(step.substr(at + 1), 10);
        if (step.substr(0, at) != "write" || !record || *record < 0 || *record >= 220)
            return std::nullopt;
        result.fault.record = *record;
        step = step.substr(0, at);
    }
    const std::optional<BootStep> bootStep = StepOf(step);
    if (!bootStep) return std::nullopt;
    result.fault.step = *bootStep;

    if (what == "silent") {
        result.fault.kind = StepFault::Silent;
        return result;
    }
    if (what.substr(0, 4) == "drop") {
        result.fault.kind = StepFault::DropLine;
        result.fault.afterBytes = StepFault::kWholeFrame;
        if (what.size() == 4) return result;
        const std::optional<size_t> after =
            what[4] == '@' ? NumberOf<size_t>(what.substr(5), 10) : std::nullopt;
        if (!after || *after == 0) return std::nullopt;
        result.fault.afterBytes = *after;
        return result;
    }
    const std::optional<uint8_t> code =
        what.size() == 2 ? NumberOf<uint8_t>(what, 16) : std::nullopt;
    if (!code) return std::nullopt;
    result.fault.kind = StepFault::Answer;
    result.fault.code = *code;
    return result;
}

namespace {

BootLoader::Options BootWith(const std::vector<DeviceFault>& faults, FaultTarget target) {
    BootLoader::Options boot;
    for (const DeviceFault& f : faults)
        if (f.target == target && f.own == OwnStep::None) boot.faults.push_back(f.fault);
    return boot;
}

LineFault OwnFault(const std::vector<DeviceFault>& faults, FaultTarget target, OwnStep step) {
    for (const DeviceFault& f : faults)
        if (f.target == target && f.own == step) return f.ownFault;
    return LineFault::None;
}

}  // namespace

ServerModel::Options ServerOptionsWith(const std::vector<DeviceFault>& faults) {
    ServerModel::Options server;
    server.boot = BootWith(faults, FaultTarget::Server);
    server.atGreeting = OwnFault(faults, FaultTarget::Server, OwnStep::Greeting);
    server.atProbe = OwnFault(faults, FaultTarget::Server, OwnStep::Probe);
    return server;
}

CardModel::Options CardOptionsWith(const std::vector<DeviceFault>& faults, FaultTarget target) {
    CardModel::Options card;
    card.boot = BootWith(faults, target);
    card.inReader = target == FaultTarget::ReaderCard;
    card.atAnswerToReset = OwnFault(faults, target, OwnStep::Greeting);
    return card;
}
