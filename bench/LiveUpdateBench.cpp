#include <QApplication>
#include <filesystem>
#include <string>

#include "BenchWindow.h"
#include "Benches.h"
#include "Catalogue.h"
#include "DeviceConfig.h"
#include "HttpClient.h"
#include "LiveUpdate.h"

namespace fs = std::filesystem;

namespace {

int CountFirmwareFiles(const CatalogueShape& shape) {
    int count = 0;
    for (int t = 1; t <= shape.types; ++t) {
        for (int f = 1; f <= shape.files; ++f) {
            const fs::path file = fs::path(TypeFolder(t)) / (FirmwareName(t, f) + ".bin");
            std::error_code error;
            if (fs::file_size(file, error) == 15180) ++count;
        }
    }
    return count;
}

// One START on the LiveUpdate page, timed; it must end with the run's last line and no box.
void TimedStart(BenchWindow& window, const std::string& label) {
    const Usage before = Usage::Now();
    const auto start = BenchClock::now();
    window.Click("VexButton6");
    const double wallMs = MsSince(start);
    const Usage after = Usage::Now();

    const QStringList log = window.Lines("Memo1");
    if (!window.Desktop().Boxes().isEmpty())
        Fail("box: " + window.Desktop().Boxes().join("; ").toStdString());
    if (log.isEmpty() || log.last() != "Aktualizacja oprogramowania zakończona.") {
        Fail("LiveUpdate did not finish: " +
             (log.isEmpty() ? std::string() : log.last().toStdString()));
    }
    Report(label + "_wall_ms", wallMs);
    Report(label + "_cpu_ms", after.cpuMs - before.cpuMs);
}

}  // namespace

// Two LiveUpdate runs through the window in the current directory (init.cfg there, store
// empty): the first fetches the whole catalogue, the second finds every file present.
int LiveUpdateBench(const CatalogueShape& shape) {
    BenchWindow window;
    window.Click("VexButton1");  // start page -> LiveUpdate page
    if (window.Form().CurrentPage() != TForm1::kLiveUpdatePage) Fail("LiveUpdate page not shown");
    Report("lu_rss_before_kib", static_cast<double>(Usage::Now().maxRssKib));

    TimedStart(window, "lu_empty");
    const int expected = shape.types * shape.files;
    if (CountFirmwareFiles(shape) != expected) Fail("the store misses firmware files");
    TimedStart(window, "lu_full");
    if (window.Lines("Memo1").filter(" : JEST").size() != expected) Fail("files fetched again");

    Report("lu_maxrss_kib", static_cast<double>(Usage::Now().maxRssKib));
    return 0;
}

namespace {

// The LiveUpdate run without the window: log kept in memory, no message processing, no
// status handler. Only to tell the window's share of a run from the rest.
class BareHost final : public LiveUpdateHost {
  public:
    explicit BareHost(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    void LogClear() override { log_.clear(); }
    void LogAppend(const std::string& line) override { log_.push_back(line); }
    void ProcessMessages() override {}
    void PaintOnlyPass() override {}
    std::vector<std::string> DeviceTypeLines() override { return lines_; }
    std::string BaseDirectory() override { return fs::current_path().string(); }
    const std::vector<std::string>& Log() const { return log_; }

  private:
    std::vector<std::string> lines_;
    std::vector<std::string> log_;
};

}  // namespace

int BareLiveUpdateBench(const CatalogueShape& shape) {
    const std::string base = fs::current_path().string();
    BareHost host(LoadDeviceTypeLines(base));
    CreateDeviceFolders(base, host.DeviceTypeLines());
    HttpClient http;
    for (const char* label : {"bare_empty", "bare_full"}) {
        const Usage before = Usage::Now();
        const auto start = BenchClock::now();
        RunLiveUpdate(host, http);
        const double wallMs = MsSince(start);
        const Usage after = Usage::Now();
        if (host.Log().empty() || host.Log().back() != "Aktualizacja oprogramowania zakończona.") {
            Fail("LiveUpdate did not finish");
        }
        Report(std::string(label) + "_wall_ms", wallMs);
        Report(std::string(label) + "_cpu_ms", after.cpuMs - before.cpuMs);
    }
    if (CountFirmwareFiles(shape) != shape.types * shape.files) Fail("the store misses files");
    return 0;
}
