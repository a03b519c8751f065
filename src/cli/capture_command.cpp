#include <csignal>
#include <memory>
#include <ostream>

#include "analyzer/session.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "common/event_loop.h"
#include "simulator/instrument_choice.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCaptureUsage =
    "usage: ufcs capture [--simulate] [--mode listen|sink] [--type-c] [--refuse-ack] "
    "[--refuse-ping]\n"
    "                    [--seconds S] -o FILE\n";

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) {
    interrupted = 1;
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

    void printNewRows() {
        const std::size_t first = list_.rowCount();
        list_.appendNew();
        for (std::size_t row = first; row < list_.rowCount(); ++row)
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
    const std::optional<Arguments> parsed =
        parseArguments(args, {"--simulate", "--type-c", "--refuse-ack", "--refuse-ping"}, 0,
                       {"--mode", "--seconds", "-o"});
    const std::string mode = parsed ? parsed->value("--mode", "listen") : "";
    double seconds = 0;
    bool valid = parsed && !parsed->value("-o").empty() && (mode == "listen" || mode == "sink");
    if (valid && parsed->values.count("--seconds")) {
        char* end = nullptr;
        const std::string text = parsed->value("--seconds");
        seconds = std::strtod(text.c_str(), &end);
        valid = end && *end == '\0' && seconds > 0;
    }
    if (!valid) {
        err << kCaptureUsage;
        return 2;
    }

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

    if (!session.startListening()) return 1;
    listener.stopped = false;
    // The connect exchange and the start frames run on the link thread.
    loop.runUntil([&] { return listener.started || listener.stopped; }, 5s);
    if (!listener.started) {
        session.closeAnalyzer();
        return 1;
    }

    interrupted = 0;
    const auto previous = std::signal(SIGINT, onInterrupt);
    const auto deadline =
        clock.now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(seconds > 0 ? seconds : 1e9));
    while (!interrupted && !listener.stopped && clock.now() < deadline) {
        loop.runUntil([&] { return interrupted || listener.stopped; }, 100ms);
    }
    std::signal(SIGINT, previous);
    const bool endedByInstrument = listener.stopped && !listener.storeFull;
    session.closeAnalyzer();
    loop.runPending();
    listener.printNewRows();

    const std::string path = parsed->value("-o");
    const ufcs::FileResult saved =
        ufcs::SaveCapture(*store, std::filesystem::path(std::u8string(path.begin(), path.end())));
    if (!saved.ok) {
        err << saved.message << '\n';
        return 1;
    }
    err << "已保存 " << store->count() << " 条记录到 " << path << '\n';
    return endedByInstrument ? 1 : 0;
}

}  // namespace cli
