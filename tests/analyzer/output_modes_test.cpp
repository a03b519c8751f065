#include "analyzer/output_modes.h"
#include "common/integer_field.h"

#include <gtest/gtest.h>

namespace {

using instrument::OutputCapabilityTable;
using instrument::OutputModeEntry;

instrument::OutputCapabilityTable tableOf(
    std::initializer_list<instrument::OutputModeEntry> entries) {
    instrument::OutputCapabilityTable table;
    for (const instrument::OutputModeEntry& e : entries)
        e.writeTo(table.bytes.data() + table.modeCount++ * instrument::OutputModeEntry::kSize);
    return table;
}

TEST(OutputModeEntry, ReadsWhatItWritesAndItsSteps) {
    const instrument::OutputModeEntry written{0x09, 2100, 500, 325,
                                              10};  // 20 mV steps, step code 4
    uint8_t bytes[8] = {};
    written.writeTo(bytes);
    EXPECT_EQ(bytes[1], 0x34);  // little-endian 2100
    EXPECT_EQ(bytes[2], 0x08);
    const instrument::OutputModeEntry read = instrument::OutputModeEntry::parse(bytes);
    EXPECT_EQ(read.maxVoltage10mV, 2100);
    EXPECT_EQ(read.minVoltage10mV, 500);
    EXPECT_EQ(read.maxCurrent10mA, 325);
    EXPECT_EQ(read.minCurrent10mA, 10);
    EXPECT_EQ(read.voltageStepMillivolts(), 20);
    EXPECT_EQ(read.currentStepMilliamps(), 50);
}

TEST(OutputModes, VoltageOnlySpansAllModesAndPicksTheFirstThatReaches) {
    const instrument::OutputCapabilityTable table =
        tableOf({{0, 550, 340, 300, 10}, {0, 1000, 500, 500, 10}, {0, 2100, 500, 325, 10}});
    const analyzer::OutputLimits limits = analyzer::voltageOnlyLimits(table);
    EXPECT_EQ(limits.minVoltage10mV, 340);
    EXPECT_EQ(limits.maxVoltage10mV, 2100);
    EXPECT_EQ(limits.maxCurrent10mA, 500);
    struct Case {
        int millivolts, mode, milliamps;
    };
    for (const Case& c :
         {Case{5500, 1, 3000}, Case{5510, 2, 5000}, Case{21000, 3, 3250}, Case{21010, 1, 0}}) {
        const analyzer::PendingOutputRequest request =
            analyzer::voltageOnlyRequest(table, c.millivolts);
        EXPECT_EQ(request.mode, c.mode) << c.millivolts;
        EXPECT_EQ(request.milliamps, c.milliamps) << c.millivolts;
    }
}

TEST(OutputModes, IntegerFieldsUseTheFrameworkPrompts) {
    const std::string range = common::outOfRangePrompt(10, 300000);
    struct Case {
        const char* text;
        std::optional<std::string> problem;
    };
    for (const Case& c : {Case{" 9000 ", std::nullopt}, Case{"10", std::nullopt}, Case{"9", range},
                          Case{"300001", range}, Case{"", common::kNotAnInteger},
                          Case{"5.5", common::kNotAnInteger},
                          Case{"99999999999999999999", common::kNotAnInteger}}) {
        EXPECT_EQ(common::checkIntegerField(c.text, 10, 300000).problem, c.problem) << c.text;
    }
    EXPECT_EQ(common::checkIntegerField(" 9000 ", 10, 300000).value, 9000);
}

}  // namespace
