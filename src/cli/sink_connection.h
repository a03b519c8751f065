#pragma once
// The instrument as the charging device (the phone), with the charger's
// output modes in: what send, modes and qualify talk to the charger through.

#include <chrono>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/session.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "cli/run_control.h"
#include "common/clock.h"
#include "common/event_loop.h"
#include "common/profile.h"
#include "ufcs/capture_list.h"

namespace cli {

// The session's texts on the error stream; the rows kept for the caller.
class SinkListener final : public analyzer::SessionListener {
  public:
    SinkListener(ufcs::CaptureList& list, std::ostream& err) : list_(list), err_(err) {}
    void onPaneText(const std::string& text, analyzer::PaneStyle) override {
        const std::string shown = screenText(text);
        err_ << shown;
        if (!shown.empty() && shown.back() != '\n') err_ << '\n';
    }
    void onMessageBox(const std::string& text) override { err_ << screenText(text) << '\n'; }
    void onCaptureStarting() override { list_.clear(); }
    void onRecordsAdded(uint32_t) override {
        list_.appendNew();
        lastRecordAt = std::chrono::steady_clock::now();
    }
    void onLostStep() override { list_.clear(); }
    void onCapabilityTable(const instrument::OutputCapabilityTable&) override {
        tableArrived = true;
    }
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
    SinkConnection(const std::string& command, const Arguments& parsed, bool trace,
                   std::ostream& err, const std::vector<std::string>& faults = {})
        : store(ufcs::CaptureStore::create()), loop(clock), list(*store), listener(list, err) {
        device = chosenInstrument(command, parsed, trace, err, faults);
        if (!device || !store) return;
        session =
            std::make_unique<analyzer::Session>(*device, *store, profile, loop, clock, listener);
        session->setMode(device::kModeChargingDevice);
    }
    ~SinkConnection() {
        if (session) session->closeAnalyzer();
    }
    // Connects and waits for the charger's output modes; false when the instrument is not there.
    bool connect() {
        if (!session || !session->startListening()) return false;
        loop.runUntil([this] { return listener.tableArrived || listener.stopped; },
                      std::chrono::seconds(3));
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

}  // namespace cli
