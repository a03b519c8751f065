#pragma once
// Two tests side by side: what each measured (the whole test, or between
// the zone lines) and the difference, B − A, row by row, for `ufcs osa
// --compare` and the recorder's comparison.

#include <string>
#include <vector>

#include "recorder/sample_document.h"
#include "recorder/waveform.h"

namespace recorder {

struct ComparisonRow {
    std::string name;  // "平均电压"
    std::string key;   // "mean_v", for JSON
    std::string unit;  // "V"
    double a = 0, b = 0;
    double difference() const { return b - a; }
};

// A whole test measured as the zone lines measure: duration, energy, charge,
// mean and peak voltage and current. Nothing (all zero) for an empty test.
ZoneMeasurement measureWholeTest(const SampleDocument& document);

// Duration, Wh, mAh, mean and peak V, mean and peak A.
std::vector<ComparisonRow> comparisonRows(const ZoneMeasurement& a, const ZoneMeasurement& b);

// A table: the quantity, A, B, B − A and the change in per cent where A is not 0.
std::string comparisonText(const std::vector<ComparisonRow>& rows, const std::string& nameA,
                           const std::string& nameB);
std::string comparisonJson(const std::vector<ComparisonRow>& rows, const std::string& nameA,
                           const std::string& nameB);

}  // namespace recorder
