// Any sequence of 64-byte reports through dispatch, assembly, intake and the
// list, as the worker and the window would take them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "analyzer/report_dispatch.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"

namespace {

struct Listener final : analyzer::AnalyzerReportListener {
    void onRecordTaken(uint32_t) override {}
    void onStatus(const analyzer::StatusEffects& effects) override {
        if (effects.captureStarted) storeFullSinceStart = 0;
    }
    void onCapabilityTable(const instrument::OutputCapabilityTable& table) override {
        if (table.modeCount > 255) std::abort();
    }
    void onLiveValues(const instrument::LiveValues&) override {}
    void onCalibrationResult(const instrument::CalibrationResult&) override {}
    // A full store is told once; only a status reply switching capture on again may repeat it.
    void onStoreFull(std::string_view) override {
        if (++storeFullSinceStart > 1) std::abort();
    }
    void onLostStep() override { lostStep = true; }
    int storeFullSinceStart = 0;
    bool lostStep = false;
};

ufcs::CaptureStore& sharedStore() {
    static std::unique_ptr<ufcs::CaptureStore> store = ufcs::CaptureStore::create();
    if (!store) std::abort();
    return *store;
}

}  // namespace

// The first byte chooses the starting state; the rest are the reports.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t setup = data[0];
    ++data;
    --size;

    ufcs::CaptureStore& store = sharedStore();
    // Near full, the list is left out: listing 65,000 records per input would starve the fuzzer.
    const bool nearFull = setup & 1;
    store.setCount(nearFull ? analyzer::kStoreFullCount - 3 : 1);
    Listener listener;
    ufcs::CaptureIntake intake(store, listener);
    intake.setRefuseAck(setup & 2);
    intake.setRefusePing(setup & 4);
    intake.setCurrentCalibrated(!(setup & 8));
    analyzer::AnalyzerReportDispatcher dispatcher(store, intake, listener);
    ufcs::CaptureList list(store);

    for (std::size_t at = 0; at < size; at += device::kReportSize) {
        uint8_t report[device::kReportSize] = {};
        std::memcpy(report, data + at, size - at < sizeof report ? size - at : sizeof report);
        dispatcher.HandleReport(report);
        if (listener.lostStep) {
            list.clear();
            if (!dispatcher.recoverFromLostStep()) std::abort();
            listener.lostStep = false;
        }
        if (!nearFull && (at / device::kReportSize) % 7 == 0) list.appendNew();
    }
    if (!nearFull) list.appendNew();

    if (store.count() > analyzer::kStoreFullCount + 1) std::abort();
    for (std::size_t row = 0; row < list.rowCount(); ++row) {
        const uint32_t index = list.recordAt(row);
        if (index >= store.count()) std::abort();
        list.rowTexts(row);
        ufcs::decodeRecord(store.record(index), index);
    }
    return 0;
}
