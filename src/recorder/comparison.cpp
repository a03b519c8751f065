#include "recorder/comparison.h"

#include <cmath>

#include "common/format.h"
#include "common/json.h"

namespace recorder {
namespace {

// Enough places for each unit: a tenth of a second, mWh, µAh, mV, mA.
int placesFor(const std::string& unit) {
    if (unit == "s") return 1;
    if (unit == "Wh") return 4;
    if (unit == "mAh") return 3;
    return 3;
}

std::string number(double value, const std::string& unit) {
    return common::format("%.*f", placesFor(unit), value);
}

// Pads `text` to `width` columns; a CJK character counts as two.
std::string padded(const std::string& text, std::size_t width) {
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80) continue;
        columns += byte >= 0xE0 ? 2 : 1;
    }
    return text + std::string(columns < width ? width - columns : 1, ' ');
}

}  // namespace

ZoneMeasurement measureWholeTest(const SampleDocument& document) {
    const uint32_t count = std::min(document.channel(kVoltageChannel).count(),
                                    document.channel(kCurrentChannel).count());
    if (count == 0) return {};
    ZoneMeasurement whole = measureZone(document, 0, count - 1);
    // Each sample stands for one period, as the test's totals count it.
    whole.seconds = count * document.period;
    return whole;
}

std::vector<ComparisonRow> comparisonRows(const ZoneMeasurement& a, const ZoneMeasurement& b) {
    return {
        {"时长", "duration_s", "s", a.seconds, b.seconds},
        {"能量", "wh", "Wh", a.wattHours, b.wattHours},
        {"电量", "mah", "mAh", a.milliampHours, b.milliampHours},
        {"平均电压", "mean_v", "V", a.averageVolts, b.averageVolts},
        {"最高电压", "peak_v", "V", a.maximumVolts, b.maximumVolts},
        {"平均电流", "mean_a", "A", a.averageAmps, b.averageAmps},
        {"最大电流", "peak_a", "A", a.maximumAmps, b.maximumAmps},
    };
}

std::string comparisonText(const std::vector<ComparisonRow>& rows, const std::string& nameA,
                           const std::string& nameB) {
    std::string text = "A: " + nameA + "\nB: " + nameB + "\n";
    text += padded("", 16) + padded("A", 14) + padded("B", 14) + "B - A\n";
    for (const ComparisonRow& row : rows) {
        std::string change = number(row.difference(), row.unit);
        if (row.difference() >= 0) change = "+" + change;
        if (row.a != 0 && std::isfinite(row.difference() / row.a))
            change += common::format("（%+.1f %%）", 100 * row.difference() / row.a);
        text += padded(row.name + " (" + row.unit + ")", 16) + padded(number(row.a, row.unit), 14) +
                padded(number(row.b, row.unit), 14) + change + "\n";
    }
    return text;
}

std::string comparisonJson(const std::vector<ComparisonRow>& rows, const std::string& nameA,
                           const std::string& nameB) {
    std::string a, b, difference;
    for (const ComparisonRow& row : rows) {
        const std::string separator = a.empty() ? "" : ",";
        const std::string key = separator + common::jsonString(row.key) + ":";
        a += key + common::format("%.6g", row.a);
        b += key + common::format("%.6g", row.b);
        difference += key + common::format("%.6g", row.difference());
    }
    return "{\"a\":{\"file\":" + common::jsonString(nameA) + "," + a +
           "},\"b\":{\"file\":" + common::jsonString(nameB) + "," + b + "},\"difference\":{" +
           difference + "}}\n";
}

}  // namespace recorder
