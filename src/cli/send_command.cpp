#include <charconv>
#include <memory>
#include <ostream>

#include "analyzer/composer.h"
#include "analyzer/session.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "common/event_loop.h"
#include "simulator/instrument_choice.h"
#include "ufcs/capture_list.h"
#include "ufcs/names.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSendUsage =
    "usage: ufcs send [--simulate] [--trace] ENTRY [fields]\n"
    "  ENTRY: an entry of the send list (Ping, Request, 设置波特率, ...) or its position 0-19\n"
    "  fields: --mode-number N --voltage MV --current MA | --ms N | --key-index HEX --random \"HEX "
    "...\" |\n"
    "          --encrypted \"HEX ...\" --random \"HEX ...\" | --test-mode 0|1 --voltage-accuracy "
    "0|1\n"
    "          --message-type 0|1|2 --device 0|1|2 --command N | --receiver 1|2|3 --vendor-id \"HH "
    "HH\"\n"
    "          --data \"HEX ...\" | --baud 115200|57600|38400|19200 | --bytes \"HEX ...\"\n";
constexpr const char* kModesUsage = "usage: ufcs modes [--simulate] [--trace]\n";
const std::vector<std::string> kFieldNames = {"mode-number",  "voltage",   "current",
                                              "ms",           "key-index", "random",
                                              "encrypted",    "test-mode", "voltage-accuracy",
                                              "message-type", "device",    "command",
                                              "receiver",     "vendor-id", "data",
                                              "baud",         "bytes"};

// The session's texts on the error stream; the rows kept for the caller.
class SinkListener final : public analyzer::SessionListener {
  public:
    SinkListener(ufcs::CaptureList& list, std::ostream& err) : list_(list), err_(err) {}
    void onPaneText(const std::string& text, analyzer::PaneStyle) override {
        err_ << screenText(text);
    }
    void onMessageBox(const std::string& text) override { err_ << screenText(text) << '\n'; }
    void onCaptureStarting() override { list_.clear(); }
    void onRecordsAdded(uint32_t) override {
        list_.appendNew();
        lastRecordAt = std::chrono::steady_clock::now();
    }
    void onLostStep() override { list_.clear(); }
    void onCapabilityTable(const analyzer::OutputCapabilityTable&) override { tableArrived = true; }
    void onListeningChanged(bool listening) override { stopped = !listening; }

    bool tableArrived = false;
    bool stopped = false;
    std::chrono::steady_clock::time_point lastRecordAt{};

  private:
    ufcs::CaptureList& list_;
    std::ostream& err_;
};

// The instrument in charging-device mode, with the charger's output modes in.
struct SinkConnection {
    SinkConnection(bool simulate, bool trace, std::ostream& err)
        : store(ufcs::CaptureStore::create()), loop(clock), list(*store), listener(list, err) {
        device = simulator::chooseInstrument({simulate, trace ? &err : nullptr});
        session =
            std::make_unique<analyzer::Session>(*device, *store, profile, loop, clock, listener);
        session->setMode(device::kModeChargingDevice);
    }
    ~SinkConnection() {
        if (session) session->closeAnalyzer();
    }
    // Connects and waits for the charger's output modes; false when the instrument is not there.
    bool connect() {
        if (!session->startListening()) return false;
        loop.runUntil([this] { return listener.tableArrived || listener.stopped; }, 3s);
        return session->connected();
    }

    std::unique_ptr<ufcs::CaptureStore> store;
    common::SystemClock clock;
    common::TaskLoop loop;
    common::MemoryProfile profile;
    ufcs::CaptureList list;
    SinkListener listener;
    std::unique_ptr<device::HidDevice> device;
    std::unique_ptr<analyzer::Session> session;
};

std::optional<int> entryPosition(const std::string& entry) {
    for (std::size_t i = 0; i < ufcs::SendMenuEntries.size(); ++i) {
        if (ufcs::SendMenuEntries[i] == entry) return static_cast<int>(i);
    }
    int position = -1;
    const auto [end, error] = std::from_chars(entry.data(), entry.data() + entry.size(), position);
    if (error == std::errc() && end == entry.data() + entry.size() && position >= 0 &&
        position < static_cast<int>(ufcs::SendMenuEntries.size())) {
        return position;
    }
    return std::nullopt;
}

}  // namespace

int runSend(const std::vector<std::string>& args, bool trace, std::ostream& out,
            std::ostream& err) {
    std::vector<std::string> options;
    for (const std::string& name : kFieldNames)
        options.push_back("--" + name);
    const std::optional<Arguments> parsed = parseArguments(args, {"--simulate"}, 1, options);
    const std::optional<int> position =
        parsed ? entryPosition(parsed->positional[0]) : std::nullopt;
    if (!position) {
        err << kSendUsage;
        return 2;
    }
    if (*position == analyzer::kSendGetSinkInfo) {
        err << "Get_Sink_Info 在充电设备模式下不能发送\n";
        return 2;
    }
    // The page's check comes first: a refused field sends nothing.
    std::vector<analyzer::PageField> fields;
    for (const auto& [option, value] : parsed->values)
        fields.push_back({option.substr(2), value});
    analyzer::SendPages pages;
    if (const auto problem = analyzer::checkPage(*position, fields, pages)) {
        err << problem->message << '\n';
        return 2;
    }

    SinkConnection sink(parsed->has("--simulate"), trace, err);
    if (!sink.store) {
        err << "内存不足！无法运行！\n";
        return 1;
    }
    if (!sink.connect()) return 1;
    const std::size_t firstRow = sink.list.rowCount();
    const auto frames = analyzer::composeSend(*position, sink.session->mode(), pages,
                                              sink.session->capabilityTable(), {});
    const bool written = !frames.empty() && sink.session->sendFrames(frames) == device::kWritten;
    out << screenText(analyzer::sendLogEntry(*position, pages, written, sink.clock.localTime()));

    // The charger's answer: rows until it has been quiet for a moment, a second at most.
    const auto sentAt = std::chrono::steady_clock::now();
    sink.loop.runUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            return sink.listener.stopped || (sink.listener.lastRecordAt > sentAt &&
                                             now - sink.listener.lastRecordAt > 250ms);
        },
        1s);
    sink.loop.runPending();
    sink.list.appendNew();
    for (std::size_t row = firstRow; row < sink.list.rowCount(); ++row)
        printRowTabbed(sink.list.rowTexts(row), out);
    return written ? 0 : 1;
}

int runModes(const std::vector<std::string>& args, bool trace, std::ostream& out,
             std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args, {"--simulate"}, 0);
    if (!parsed) {
        err << kModesUsage;
        return 2;
    }
    SinkConnection sink(parsed->has("--simulate"), trace, err);
    if (!sink.store || !sink.connect()) return 1;
    if (!sink.listener.tableArrived) {
        err << "充电器没有报告输出模式\n";
        return 1;
    }
    const analyzer::OutputCapabilityTable& table = sink.session->capabilityTable();
    out << "编号       电压(V)          电流(A)      步进(mV)   步进(mA)\n";
    for (int mode = 0; mode < table.countedEntries(); ++mode) {
        out << mode + 1 << '\t' << analyzer::outputModeRowText(table.entry(mode)) << '\n';
    }
    return 0;
}

}  // namespace cli
