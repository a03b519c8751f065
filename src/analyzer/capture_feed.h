#pragma once
// Runs instrument reports through the analyzer's own dispatch, assembly and
// intake into a store, as a live capture would, with nobody watching. Used to
// make sample captures (from the simulator's pages) and to load the capture
// path in benchmarks.

#include <cstdint>

#include "analyzer/report_dispatch.h"
#include "device/frames.h"
#include "ufcs/capture_intake.h"

namespace analyzer {

class CaptureFeed final : private AnalyzerReportListener {
  public:
    // Starts a capture: record 0 is the header, the instrument reports listening.
    CaptureFeed(ufcs::CaptureStore& store, const ufcs::CaptureHeaderRecord& header);

    void feedReport(const device::Report& report) { dispatcher_.HandleReport(report.data()); }
    // Each report in turn, e.g. the pages of one simulated bus event.
    template <typename Reports>
    void feedReports(const Reports& reports) {
        for (const device::Report& report : reports)
            feedReport(report);
    }

    ufcs::CaptureIntake& intake() { return intake_; }
    bool storeFull() const { return storeFull_; }
    uint32_t lostSteps() const { return lostSteps_; }

  private:
    void onRecordTaken(uint32_t) override {}
    void onStatus(const StatusEffects&) override {}
    void onCapabilityTable(const instrument::OutputCapabilityTable&) override {}
    void onLiveValues(const instrument::LiveValues&) override {}
    void onCalibrationResult(const instrument::CalibrationResult&) override {}
    void onStoreFull(std::string_view) override { storeFull_ = true; }
    void onLostStep() override {
        ++lostSteps_;
        dispatcher_.recoverFromLostStep();
    }

    ufcs::CaptureIntake intake_;
    AnalyzerReportDispatcher dispatcher_;
    bool storeFull_ = false;
    uint32_t lostSteps_ = 0;
};

}  // namespace analyzer
