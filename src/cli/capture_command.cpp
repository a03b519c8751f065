#include <array>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <memory>
#include <ostream>

#include "analyzer/session.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "common/event_loop.h"
#include "common/file_save.h"
#include "simulator/instrument_choice.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

// Beyond this a capture runs until it is interrupted (and no deadline overflows).
constexpr double kLongestTimedSeconds = 1e9;

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) {
    interrupted = 1;
}

// While it lives, Ctrl+C, SIGTERM and SIGHUP end the capture (which is then
// saved), and a closed standard output is a failed write, not a killed process.
class CaptureEndingSignals {
  public:
    CaptureEndingSignals() {
        interrupted = 0;
        for (std::size_t i = 0; i < kEnding.size(); ++i)
            previous_[i] = std::signal(kEnding[i], onInterrupt);
#ifdef SIGPIPE
        previousPipe_ = std::signal(SIGPIPE, SIG_IGN);
#endif
    }
    ~CaptureEndingSignals() {
        for (std::size_t i = 0; i < kEnding.size(); ++i)
            std::signal(kEnding[i], previous_[i]);
#ifdef SIGPIPE
        std::signal(SIGPIPE, previousPipe_);
#endif
    }
    CaptureEndingSignals(const CaptureEndingSignals&) = delete;
    CaptureEndingSignals& operator=(const CaptureEndingSignals&) = delete;

  private:
    using Handler = void (*)(int);
#ifdef SIGHUP
    static constexpr std::array<int, 3> kEnding = {SIGINT, SIGTERM, SIGHUP};
#else
    static constexpr std::array<int, 2> kEnding = {SIGINT, SIGTERM};
#endif
    std::array<Handler, kEnding.size()> previous_{};
#ifdef SIGPIPE
    Handler previousPipe_ = SIG_DFL;
#endif
};

const CommandSyntax kCaptureSyntax{"capture",
                                   {"--simulate", "--type-c", "--refuse-ack", "--refuse-ping"},
                                   {{"--mode", {"listen", "sink"}}, {"--seconds"}, {"-o"}}};

// The seconds to capture (infinity for no limit), or nothing after telling `err`.
std::optional<double> captureSeconds(const Arguments& parsed, std::ostream& err) {
    if (!parsed.values.count("--seconds")) return std::numeric_limits<double>::infinity();
    const std::string text = parsed.value("--seconds");
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0) {
        reportBadArgument(
            "capture", "--seconds '" + text + "' is not a finite positive number of seconds", err);
        return std::nullopt;
    }
    return seconds;
}

// Prints each row as it is listed, and the session's texts on the error stream.
class CaptureListener final : public analyzer::SessionListener {
  public:
    CaptureListener(ufcs::CaptureList& list, std::ostream& out, std::ostream& err)
        : list_(list), out_(out), err_(err) {}

    void onPaneText(const std::string& text, analyzer::PaneStyle) override {
        err_ << screenText(text);
    }
    void onMessageBox(const std::string& text) override { err_ << screenText(text) << '\n'; }
    void onCaptureStarting() override { list_.clear(); }
    void onRecordsAdded(uint32_t) override { printNewRows(); }
    void onLostStep() override {
        printNewRows();
        list_.clear();
        err_ << "传输页错误！\n";
    }
    void onStoreFull(const std::string&) override { storeFull = true; }
    void onListeningChanged(bool listening) override {
        if (listening)
            started = true;
        else
            stopped = true;
    }

    // Once the output is closed (`| head`), rows are listed but no longer printed.
    void printNewRows() {
        const std::size_t first = list_.rowCount();
        list_.appendNew();
        for (std::size_t row = first; row < list_.rowCount() && out_; ++row)
            printRowTabbed(list_.rowTexts(row), out_);
        out_.flush();
    }

    bool started = false;
    bool stopped = false;
    bool storeFull = false;

  private:
    ufcs::CaptureList& list_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int runCapture(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args, kCaptureSyntax, err);
    if (!parsed) return 2;
    const std::optional<double> seconds = captureSeconds(*parsed, err);
    if (!seconds) return 2;
    const std::string path = parsed->value("-o");
    if (path.empty()) {
        reportBadArgument("capture", "missing -o FILE", err);
        return 2;
    }
    const std::filesystem::path target(std::u8string(path.begin(), path.end()));
    // Found now, not after a long capture.
    if (const common::SaveOutcome check = common::checkSaveTarget(target); !check.ok) {
        reportBadArgument("capture", "cannot save to '" + path + "': " + check.reason, err);
        return 2;
    }
    const std::string mode = parsed->value("--mode", "listen");

    auto store = ufcs::CaptureStore::create();
    if (!store) {
        err << "内存不足！无法运行！\n";
        return 1;
    }
    const std::unique_ptr<device::HidDevice> device =
        simulator::chooseInstrument({parsed->has("--simulate"), trace ? &err : nullptr});

    common::SystemClock clock;
    common::TaskLoop loop(clock);
    common::MemoryProfile profile;
    ufcs::CaptureList list(*store);
    CaptureListener listener(list, out, err);
    analyzer::Session session(*device, *store, profile, loop, clock, listener);
    session.setMode(mode == "sink" ? device::kModeChargingDevice : device::kModeListening);
    session.setTypeCPort(parsed->has("--type-c"));
    session.setRefusal(parsed->has("--refuse-ack"), parsed->has("--refuse-ping"));

    // Installed until the capture is saved, so a second signal cannot cut the save short.
    const CaptureEndingSignals signals;
    if (!session.startListening()) return 1;
    listener.stopped = false;
    // The connect exchange and the start frames run on the link thread.
    loop.runUntil([&] { return listener.started || listener.stopped; }, 5s);
    if (!listener.started) {
        session.closeAnalyzer();
        return 1;
    }

    const auto deadline =
        *seconds < kLongestTimedSeconds
            ? clock.now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(*seconds))
            : std::chrono::steady_clock::time_point::max();
    while (!interrupted && !listener.stopped && clock.now() < deadline) {
        loop.runUntil([&] { return interrupted || listener.stopped; }, 100ms);
    }
    const bool endedByInstrument = listener.stopped && !listener.storeFull;
    session.closeAnalyzer();
    loop.runPending();
    listener.printNewRows();

    const ufcs::FileResult saved = ufcs::SaveCapture(*store, target);
    if (!saved.ok) {
        err << saved.message << '\n';
        return 1;
    }
    err << "已保存 " << store->count() << " 条记录到 " << path << '\n';
    return endedByInstrument ? 1 : 0;
}

}  // namespace cli
