#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "BenchWindow.h"
#include "Benches.h"
#include "Floor.h"

namespace fs = std::filesystem;

namespace {

struct KindSetup {
    int row;           // line of init.cfg
    const char* port;  // port box text
    const char* writeDone;
    const char* finish;
};

// init.cfg of the programming work directory, one line per benchmarked kind.
const char kInitCfg[] =
    "Serwer:serwer 1\r\nKarta przez serwer:karta 3\r\nKarta w czytniku:karta 4\r\n"
    "Serwer auto:serwer 2\r\nKarta auto:karta 5\r\n";

const std::map<int, KindSetup> kKinds{
    {1, {0, "COM1", "Zapis flasha : OK", "Reset serwera : OK"}},
    {3, {1, "COM1", "Zapisu flasha : OK", "Bit_lock OFF : OK"}},
    {4, {2, "COM2", "Zapis flasha : OK", "Bit_lock OFF : OK"}},
    {2, {3, "Auto", "Zapis flasha : OK", "Reset serwera : OK"}},
    {5, {4, "Auto", "Zapisu flasha : OK", "Bit_lock OFF : OK"}},
};

// The largest gap between the ticks of a 10 ms timer: the longest stretch in which the
// window did not answer. `onTick` runs at every tick.
class AnswerProbe {
  public:
    explicit AnswerProbe(std::function<void()> onTick) : onTick_(std::move(onTick)) {
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            longest_ = std::max(longest_, MsSince(last_));
            last_ = BenchClock::now();
            onTick_();
        });
        last_ = BenchClock::now();
        timer_.start(10);
    }
    double Longest() const { return std::max(longest_, MsSince(last_)); }

  private:
    QTimer timer_;
    std::function<void()> onTick_;
    BenchClock::time_point last_;
    double longest_ = 0;
};

// When each log line first appeared.
class LogTimes {
  public:
    explicit LogTimes(QPlainTextEdit* memo) : memo_(memo) {
        QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [this] {
            const QString line = memo_->document()->lastBlock().text();
            if (!line.isEmpty() && !times_.count(line)) times_[line] = BenchClock::now();
        });
    }
    std::optional<BenchClock::time_point> At(const QString& line) const {
        const auto it = times_.find(line);
        if (it == times_.end()) return std::nullopt;
        return it->second;
    }

  private:
    QPlainTextEdit* memo_;
    std::map<QString, BenchClock::time_point> times_;
};

double Between(BenchClock::time_point from, BenchClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

void WriteProgrammingWorkDir(const std::string& dir) {
    fs::create_directories(dir);
    std::ofstream(fs::path(dir) / "init.cfg", std::ios::binary) << kInitCfg;
    std::string firmware(15180, '\0');
    for (size_t k = 0; k < firmware.size(); ++k) firmware[k] = static_cast<char>(k * 13 + 5);
    for (const char* folder : {"serwer", "karta"}) {
        fs::create_directories(fs::path(dir) / folder);
        std::ofstream(fs::path(dir) / folder / "105.bin", std::ios::binary) << firmware;
    }
}

// One programming run of `kind` through the window on the real serial backend (the ports
// of TANDEL_PORTS), from START to "SerialPort wolny...".
namespace {

const KindSetup& ToProgrammingPage(BenchWindow& window, int kind) {
    const auto setup = kKinds.find(kind);
    if (setup == kKinds.end()) Fail("no programming benchmark for kind " + std::to_string(kind));
    const KindSetup& k = setup->second;
    window.Click("VexButton2");
    window.Find<QListWidget>("ListBox2")->setCurrentRow(k.row);
    window.Click("VexButton10");
    window.Find<QListWidget>("ListBox1")->setCurrentRow(0);
    window.Click("VexButton11");
    window.Find<QComboBox>("ComboBox1")->setEditText(k.port);
    if (window.Form().CurrentPage() != TForm1::kProgrammingPage) Fail("programming page not shown");
    return k;
}

}  // namespace

int AliveBench(int kind, int closeAfterMs) {
    BenchWindow window;
    const KindSetup& k = ToProgrammingPage(window, kind);
    const auto start = BenchClock::now();
    std::optional<BenchClock::time_point> closed;
    AnswerProbe probe([&] {
        if (closeAfterMs >= 0 && !closed && MsSince(start) >= closeAfterMs) {
            closed = BenchClock::now();
            window.Form().windowHandle()->close();
        }
    });
    window.Click("VexButton14");
    const double longest = probe.Longest();
    const std::string name = "alive" + std::to_string(kind);
    if (closed) {
        while (window.Form().isVisible() && MsSince(*closed) < 5000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        Report(name + "_close_ms", MsSince(*closed));
        // When the close was asked for, on the wall clock, for the time until the process is gone.
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch() -
                                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                    BenchClock::now() - *closed);
        Report(name + "_closed_at_ms",
               std::chrono::duration<double, std::milli>(sinceEpoch).count());
        if (window.Form().dane().IsPortOpen()) Fail("the port stayed open");
        return 0;
    }
    const QStringList log = window.Lines("Memo2");
    if (!log.contains(k.finish) || log.last() != "SerialPort wolny...") {
        Fail("the run did not succeed:\n" + log.join("\n").toStdString());
    }
    Report(name + "_longest_ms", longest);
    Report(name + "_wall_ms", MsSince(start));
    return 0;
}

int ProgrammingBench(int kind) {
    BenchWindow window;
    const KindSetup& k = ToProgrammingPage(window, kind);

    LogTimes times(window.Find<QPlainTextEdit>("Memo2"));
    const Usage before = Usage::Now();
    const auto start = BenchClock::now();
    window.Click("VexButton14");
    const Usage after = Usage::Now();

    const QStringList log = window.Lines("Memo2");
    const auto released = times.At("SerialPort wolny...");
    const auto writing = times.At("Zapis flasha...");
    const auto written = times.At(k.writeDone);
    if (!window.Desktop().Boxes().isEmpty()) {
        Fail("box: " + window.Desktop().Boxes().join("; ").toStdString());
    }
    if (!released || !writing || !written || !log.contains(k.finish) ||
        log.last() != "SerialPort wolny...") {
        Fail("the run did not succeed:\n" + log.join("\n").toStdString());
    }
    const double wallMs = Between(start, *released);
    const std::string name = "prog" + std::to_string(kind);
    Report(name + "_wall_ms", wallMs);
    Report(name + "_cpu_ms", after.cpuMs - before.cpuMs);
    Report(name + "_write_ms", Between(*writing, *written));
    return 0;
}

int FloorReport(int kind) {
    const Floor floor = FloorOf(kind);
    const std::string name = "floor" + std::to_string(kind);
    Report(name + "_ms", floor.TotalMs());
    Report(name + "_line_ms", floor.lineMs);
    Report(name + "_pauses_ms", floor.pausesMs);
    Report(name + "_device_ms", floor.deviceMs);
    return 0;
}
