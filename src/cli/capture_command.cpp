#include <memory>
#include <ostream>

#include "analyzer/session.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "cli/run_control.h"
#include "common/event_loop.h"
#include "common/file_save.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

const CommandSyntax kCaptureSyntax{
    "capture",
    {"--simulate", "--type-c", "--refuse-ack", "--refuse-ping"},
    {{"--mode", {"listen", "sink"}}, {"--seconds"}, {"-o"}, {"--fault"}, {kDeviceOption}}};

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
    const std::optional<double> seconds = positiveSeconds(*parsed, "capture", err);
    const std::optional<std::vector<std::string>> faults =
        simulatedFaults(*parsed, "capture", kCaptureFaults, err);
    if (!faults) return 2;
    if (!seconds) return 2;
    // Found now, not after a long capture.
    const std::optional<std::filesystem::path> output =
        outputArgument(*parsed, "capture", "FILE", err);
    if (!output) return 2;
    const std::filesystem::path& target = *output;
    const std::string path = parsed->value("-o");
    const std::string mode = parsed->value("--mode", "listen");

    auto store = ufcs::CaptureStore::create();
    if (!store) {
        err << "内存不足！无法运行！\n";
        return 1;
    }
    const std::unique_ptr<device::HidDevice> device =
        chosenInstrument("capture", *parsed, trace, err, *faults);
    if (!device) return 1;

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
    const EndingSignals signals;
    if (!session.startListening()) return 1;
    listener.stopped = false;
    // The connect exchange and the start frames run on the link thread.
    loop.runUntil([&] { return listener.started || listener.stopped; }, 5s);
    if (!listener.started) {
        session.closeAnalyzer();
        return 1;
    }

    const auto deadline = deadlineAfter(clock, *seconds);
    while (!interrupted() && !listener.stopped && clock.now() < deadline) {
        loop.runUntil([&] { return interrupted() || listener.stopped; }, 100ms);
    }
    const bool endedByInstrument = listener.stopped && !listener.storeFull;
    session.closeAnalyzer();
    // The stop command, its pause and the close run on the link; the capture
    // is whole once they have.
    loop.runUntil([&] { return !session.linkBusy(); }, 5s);
    loop.runPending();
    listener.printNewRows();

    const ufcs::FileResult saved = ufcs::SaveCapture(*store, target, endingSaveControl(err));
    if (!saved.ok) {
        // Nothing captured is lost: it goes where the user's own data lives.
        err << ufcs::SaveCaptureToFallback(*store, saved.message).message << '\n';
        return 1;
    }
    err << "已保存 " << store->count() << " 条记录到 " << path << '\n';
    return endedByInstrument ? 1 : 0;
}

}  // namespace cli
