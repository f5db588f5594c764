// How every kind of run ends, as the run itself decides it, and the exit status the command
// line gives for it.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include "Bench.h"
#include "ExitCodes.h"
#include "FlashOutcome.h"

namespace {

constexpr Byte kUnset = 0xFF;

struct Case {
    const char* name;
    int kind;
    std::function<void(Bench&, BootLoader::Options&, ServerModel::Options&, CardModel::Options&)>
        setUp;
    RunEnd end;
    RunStep step;
    int frame = -1;
    Byte reply = kUnset;  // kUnset: no reply code
    int exitCode = 0;
};

StepFault Fault(BootStep step, StepFault::Kind kind, uint8_t code = 0, int record = -1) {
    StepFault f{step, kind, code, record, 0};
    if (kind == StepFault::DropLine) f.afterBytes = 40;
    return f;
}

auto Boot(std::vector<StepFault> faults) {
    return [faults](Bench&, BootLoader::Options& boot, ServerModel::Options&, CardModel::Options&) {
        boot.faults = faults;
    };
}

// Kind 1 and 2: a server on COM1 with `boot`; kind 3 and 5: a card behind it; kind 4: a card
// in a reader on COM1.
RunResult RunCase(const Case& c, Bench& b) {
    BootLoader::Options boot;
    ServerModel::Options server;
    CardModel::Options card;
    server.greetOnPowerOn = c.kind == 1;
    card.inReader = c.kind == 4;
    b.portBox = c.kind == 2 || c.kind == 5 ? "Auto" : "COM1";
    c.setUp(b, boot, server, card);
    if (c.kind == 1 || c.kind == 2) {
        server.boot = boot;
        b.ports.Attach(1, b.AddServer(server));
    } else {
        card.boot = boot;
        CardModel& model = b.Add<CardModel>(card);
        if (c.kind == 4)
            b.ports.Attach(1, model);
        else
            b.ports.Attach(1, b.AddServer(server, &model));
    }
    return b.run.Start(static_cast<uint8_t>(c.kind));
}

const Case kCases[] = {
    {"server programmed", 1, Boot({}), RunEnd::Programmed, RunStep::Finish},
    {"searched server programmed", 2, Boot({}), RunEnd::Programmed, RunStep::Finish},
    {"card via server programmed", 3, Boot({}), RunEnd::Programmed, RunStep::Finish},
    {"searched card programmed", 5, Boot({}), RunEnd::Programmed, RunStep::Finish},
    {"card in reader programmed", 4, Boot({}), RunEnd::Programmed, RunStep::Finish},
    {"card declined", 4, [](Bench& b, auto&, auto&, auto&) { b.answerYes = false; },
     RunEnd::Declined, RunStep::Question, -1, kUnset, kExitDeviceFailed},
    {"port text names no port", 1, [](Bench& b, auto&, auto&, auto&) { b.portBox = "xyz"; },
     RunEnd::Untouched, RunStep::Port, -1, kUnset, kExitNoDevice},
    {"STOP while waiting for the greeting", 1,
     [](Bench& b, auto&, ServerModel::Options& s, auto&) {
         s.greetOnPowerOn = false;
         b.PressStopAtPass(3);
     },
     RunEnd::Stopped, RunStep::Greeting, -1, kUnset, kExitNoDevice},
    {"no server found", 2, [](Bench&, auto&, ServerModel::Options& s, auto&) { s.greetOnReset = false; },
     RunEnd::Untouched, RunStep::Search, -1, kUnset, kExitNoDevice},
    {"boot loader of version 4", 1,
     [](Bench&, auto&, ServerModel::Options& s, auto&) { s.greeting = {0xAA, 0xAA, 0xD2}; },
     RunEnd::Untouched, RunStep::BootMode, -1, 0xD2, kExitNoDevice},
    {"no answer to reset", 4,
     [](Bench&, auto&, auto&, CardModel::Options& c) { c.atAnswerToReset = LineFault::Silent; },
     RunEnd::Untouched, RunStep::Greeting, -1, kUnset, kExitNoDevice},
    {"wrong pass-through answer", 3,
     [](Bench&, auto&, ServerModel::Options& s, auto&) { s.probeAnswer = 0x55; },
     RunEnd::Untouched, RunStep::ViaServer, -1, 0x55, kExitNoDevice},
    {"card init refused", 3, Boot({Fault(BootStep::CardInit, StepFault::Answer, 0x00)}),
     RunEnd::Refused, RunStep::CardInit, -1, 0x00, kExitDeviceFailed},
    {"BitLock on refused", 1, Boot({Fault(BootStep::BitLockOn, StepFault::Answer, 0x92)}),
     RunEnd::Refused, RunStep::BitLockOn, -1, 0x92, kExitDeviceFailed},
    {"BitLock on unanswered", 4, Boot({Fault(BootStep::BitLockOn, StepFault::Silent)}),
     RunEnd::Untouched, RunStep::BitLockOn, -1, kUnset, kExitNoDevice},
    {"erase refused with a named code", 3, Boot({Fault(BootStep::Erase, StepFault::Answer, 0x94)}),
     RunEnd::Refused, RunStep::Erase, -1, 0x94, kExitDeviceFailed},
    {"erase refused with an unnamed code", 1, Boot({Fault(BootStep::Erase, StepFault::Answer, 0x93)}),
     RunEnd::Refused, RunStep::Erase, -1, 0x93, kExitDeviceFailed},
    {"erase unanswered", 1, Boot({Fault(BootStep::Erase, StepFault::Silent)}), RunEnd::Damaged,
     RunStep::Erase, -1, kUnset, kExitFlashDamaged},
    {"write frame refused", 3, Boot({Fault(BootStep::Write, StepFault::Answer, 0x91, 17)}),
     RunEnd::Damaged, RunStep::Write, 17, 0x91, kExitFlashDamaged},
    {"write frame refused with an unnamed code", 1,
     Boot({Fault(BootStep::Write, StepFault::Answer, 0x94, 17)}), RunEnd::Damaged, RunStep::Write,
     17, 0x94, kExitFlashDamaged},
    {"write frame unanswered", 4, Boot({Fault(BootStep::Write, StepFault::Silent, 0, 200)}),
     RunEnd::Damaged, RunStep::Write, 200, kUnset, kExitFlashDamaged},
    {"line lost inside a write frame", 1, Boot({Fault(BootStep::Write, StepFault::DropLine, 0, 17)}),
     RunEnd::Damaged, RunStep::Write, 17, kUnset, kExitFlashDamaged},
    {"BitLock off refused", 4, Boot({Fault(BootStep::BitLockOff, StepFault::Answer, 0x91)}),
     RunEnd::Damaged, RunStep::Finish, -1, 0x91, kExitFlashDamaged},
    {"STOP inside the write phase", 3,
     [](Bench& b, auto&, auto&, auto&) {
         b.When([&b] { return b.progress >= 800; }, [&b] { b.run.Stop(); });
     },
     RunEnd::Damaged, RunStep::Write, 50, kUnset, kExitFlashDamaged},
};

}  // namespace

TEST(RunResult, EveryEndingOfEveryKindIsDecidedWhereItsStepEnds) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Bench b;
        const RunResult r = RunCase(c, b);
        const std::optional<Byte> reply =
            c.reply == kUnset ? std::nullopt : std::optional<Byte>(c.reply);
        EXPECT_EQ(std::make_tuple(RunEndName(r.end), RunStepName(r.step), r.frame, r.reply),
                  std::make_tuple(RunEndName(c.end), RunStepName(c.step), c.frame, reply));
        EXPECT_EQ(JudgeFlashRun(r, 0, b.portBox).exitCode, c.exitCode)
            << JudgeFlashRun(r, 0, b.portBox).reason;
        EXPECT_FALSE(b.run.Running());
    }
}

TEST(RunResult, ReasonsNameTheStepTheFrameAndTheCode) {
    RunResult r;
    r.end = RunEnd::Refused;
    r.step = RunStep::Erase;
    r.reply = 0x93;
    EXPECT_EQ(JudgeFlashRun(r, 0, "COM1").reason,
              "the device refused the erase step (reply 0x93); its flash was not touched");
    r.end = RunEnd::Damaged;
    r.step = RunStep::Write;
    r.frame = 17;
    EXPECT_EQ(JudgeFlashRun(r, 0, "COM1").reason,
              "the device's flash is erased or partly written (write frame 17, reply 0x93): "
              "program it again");
    RunResult search;
    search.end = RunEnd::Untouched;
    search.step = RunStep::Search;
    search.deniedPorts = "COM1, COM3";
    EXPECT_EQ(JudgeFlashRun(search, 0, "Auto").reason.rfind(
                  "Nie wykryto serwera !!! No permission to open COM1, COM3: ", 0),
              0u);
    // A signal keeps its status; the reason still tells what the flash holds.
    r.wait = WaitEnd::Stopped;
    r.reply.reset();
    r.stop = StopCause::Stop;
    const FlashOutcome stopped = JudgeFlashRun(r, SIGINT, "COM1");
    EXPECT_EQ(stopped.exitCode, kExitInterrupted);
    EXPECT_NE(stopped.reason.find("partly written (write frame 17, stopped)"), std::string::npos);
    r.end = RunEnd::Declined;  // Ctrl+C at the card's question
    EXPECT_EQ(JudgeFlashRun(r, SIGINT, "COM1").exitCode, kExitInterrupted);
}

// An adapter pulled inside a long pause ends the run at once, as a hang-up in a read does:
// kind 3 inside its 8000 ms wait, kind 1 inside the 1100 ms pause after the boot mode.
TEST(RunResult, HangUpInsideAPauseEndsTheRunWithin100ms) {
    for (const int kind : {3, 1}) {
        SCOPED_TRACE(kind);
        Bench b;
        ScriptDevice device;
        uint32_t dropTick = 0;
        const auto dropIn = [&](SimLine& line, uint32_t ms) {
            dropTick = line.Now() + ms;
            line.HangupAt(dropTick);
        };
        if (kind == 3) {
            device.onOpen = [&](SimLine& line) { dropIn(line, 3000); };
        } else {
            device.onOpen = [](SimLine& line) { line.Send({0xAA, 0xAA, 0xD3}, line.Now() + 5); };
            device.onByte = [&](SimLine& line, uint8_t byte) {
                if (byte == kServerBootV5) dropIn(line, 700);
            };
        }
        b.backend.AttachDevice("\\\\.\\COM1", device);
        const RunResult r = b.run.Start(static_cast<uint8_t>(kind));
        EXPECT_EQ(r.end, RunEnd::Untouched);
        EXPECT_EQ(r.wait, WaitEnd::Lost);
        ASSERT_GT(dropTick, 0u);
        EXPECT_LE(b.clock.TickMs() - dropTick, 100u);
        EXPECT_EQ(b.log.back(), "SerialPort wolny...");
    }
}
