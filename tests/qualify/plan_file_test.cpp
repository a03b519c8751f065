#include <gtest/gtest.h>

#include "qualify/plan_file.h"

namespace {

using qualify::Plan;

// The message of a refused plan, empty for an accepted one.
std::string problemOf(const std::string& text) {
    const auto parsed = qualify::parsePlan(text);
    const std::string* problem = std::get_if<std::string>(&parsed);
    return problem ? *problem : std::string();
}

TEST(PlanFile, WhatAMakerWritesIsReadOrRefusedWithItsLine) {
    struct Case {
        const char* text;
        const char* problem;  // a part of the message; empty: accepted
    };
    const Case cases[] = {
        {"", ""},
        {"# only comments\n; and these\n\n", ""},
        {"\xEF\xBB\xBF[limits]\nack_ms = 8\n", ""},
        {"[limits]\r\nack_ms = 10\r\n", ""},
        {"[limits]\nack_ms = 12\n", "第 2 行：计划只能收紧标准的限值：ack_ms 12"},
        {"[limits]\ngap_ms = 1.5\n", "gap_ms 1.5 比标准的 2.0 ms 短"},
        {"[limits]\ngap_ms = 3\n", ""},
        {"[limits]\npower_ready_ms = 200\n", "power_ready_ms 200 比标准的 120.0 ms 长"},
        {"[limits]\npower_ready_ms = 100\n", ""},
        {"[limits]\nvoltage_mv = 1000\n", "voltage_mv 应在 0 到 900 mV 之间"},
        {"[limits]\nreadback_mv = 101\n", "readback_mv 应在 0 到 100 mV 之间"},
        {"[limits]\nack_ms = fast\n", "ack_ms 的值“fast”不是数"},
        {"[limits]\nack_ms = 0.1\n", "ack_ms 应为 0.2 到 60000 毫秒"},
        {"[limits]\nspeed = 1\n", "[limits] 里没有 speed"},
        {"ack_ms = 8\n", "第 1 行：键“ack_ms”前面没有节名"},
        {"[tests\n", "节名缺少 ]"},
        {"[extras]\n", "没有 [extras] 这一节"},
        {"[tests]\nonly\n", "应为“键 = 值”"},
        {"[tests]\nskip = M1.\n", "[tests] 里没有 skip"},
        {"[points]\nextra_mv = 9000, 12.5k\n", "电压点“12.5k”"},
        {"[points]\nextra_mv = 2000\n", "电压点“2000”应为 3000 到 36000"},
        {"[points]\nextra_mv = 9000.5\n", "整毫伏数"},
    };
    for (const Case& c : cases) {
        const std::string problem = problemOf(c.text);
        if (*c.problem == '\0') {
            EXPECT_EQ(problem, "") << c.text;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << " -> " << problem;
        }
    }
}

TEST(PlanFile, ValuesLandInThePlanAndThePrintedPlanReadsBack) {
    const auto parsed = qualify::parsePlan(
        "[tests]\nonly = handshake, M2. ,sequence.\n[points]\nextra_mv = 9000,12000\n"
        "[limits]\nack_ms = 8 # a maker's own\nanswer_ms = 40\npower_ready_ms = 100\n"
        "power_supply_ms = 500\ngap_ms = 3\nvoltage_mv = 100\nreadback_mv = 50\n");
    ASSERT_TRUE(std::holds_alternative<Plan>(parsed)) << std::get<std::string>(parsed);
    const Plan& plan = std::get<Plan>(parsed);
    EXPECT_EQ(plan.only, (std::vector<std::string>{"handshake", "M2.", "sequence."}));
    EXPECT_EQ(plan.extraMillivolts, (std::vector<uint32_t>{9000, 12000}));
    EXPECT_EQ(plan.windows.ackUs, 8000u);
    EXPECT_EQ(plan.windows.answerUs, 40000u);
    EXPECT_EQ(plan.windows.powerReadyUs, 100000u);
    EXPECT_EQ(plan.windows.powerSupplyUs, 500000u);
    EXPECT_EQ(plan.windows.messageGapUs, 3000u);
    EXPECT_EQ(plan.voltageToleranceMv, 100u);
    EXPECT_EQ(plan.readBackToleranceMv, 50u);

    // Printed and read again, a plan is the same plan; the built-in one too.
    for (const Plan& printed : {plan, Plan{}}) {
        const auto again = qualify::parsePlan(qualify::planFileText(printed));
        ASSERT_TRUE(std::holds_alternative<Plan>(again)) << std::get<std::string>(again);
        const Plan& read = std::get<Plan>(again);
        EXPECT_EQ(read.only, printed.only);
        EXPECT_EQ(read.extraMillivolts, printed.extraMillivolts);
        EXPECT_EQ(read.windows, printed.windows);
        EXPECT_EQ(read.voltageToleranceMv, printed.voltageToleranceMv);
        EXPECT_EQ(read.readBackToleranceMv, printed.readBackToleranceMv);
    }
}

}  // namespace
