#pragma once
// What a qualification run leaves behind: report.json (schema
// "ufcs-qualification/1", documented in docs/qualification.md), junit.xml
// for a lab's CI, the capture beside them, and a line a test for the terminal.

#include <filesystem>
#include <string>
#include <vector>

#include "common/file_save.h"
#include "common/junit_report.h"
#include "qualify/qualification.h"
#include "ufcs/capture_store.h"

namespace qualify {

inline constexpr const char* kReportSchema = "ufcs-qualification/1";
inline constexpr const char* kReportCapture = "capture.ufcs_stream";

struct RunFacts {
    std::string started;     // local time, "2026-12-10 23:59:01"
    std::string instrument;  // "simulated:1", a serial number
    double seconds = 0;      // how long the run took
};

// The local date and time now, as RunFacts::started shows it.
std::string localDateTimeNow();

std::string reportJson(const QualificationReport& report, const RunFacts& facts);
std::vector<common::JUnitCase> junitCases(const QualificationReport& report);
// "ID  VERDICT  measured  (limit)  title" a line each, then the totals.
std::string reportText(const QualificationReport& report);

// The capture, report.json, report.html and junit.xml into `folder` (made if absent).
common::FileResult writeReportFolder(const std::filesystem::path& folder,
                                     const ufcs::CaptureStore& store,
                                     const QualificationReport& report, const RunFacts& facts);

}  // namespace qualify
