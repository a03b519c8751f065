#pragma once
// The plan file: a small INI text a maker writes to choose tests, add
// voltage points and tighten limits. --print-plan prints the built-in plan
// in this form, every test and limit explained:
//
//   [tests]
//   only = handshake, M2., sequence.    # test id prefixes; absent: every test
//   [points]
//   extra_mv = 9000, 12000              # more Request voltages, in each mode that holds them
//   [limits]
//   ack_ms = 8                          # each no looser than the standard's
//   answer_ms = 40
//   power_ready_ms = 100                # one window for every voltage
//   power_supply_ms = 500
//   gap_ms = 3                          # a least time: no shorter than the standard's
//   voltage_mv = 100                    # |output - request|, tighter than table 39
//   readback_mv = 50                    # |output - read-back|, tighter than 100 mV
//
// Lines starting with # or ; are comments, as is the rest of a line after #.

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "qualify/qualification.h"

namespace qualify {

// The plan, or the message for the user ("第 3 行：…").
std::variant<Plan, std::string> parsePlan(std::string_view text);

// A plan file read and parsed; its message names no file ("大于 64 KB", "第 3 行：…").
std::variant<Plan, std::string> loadPlanFile(const std::filesystem::path& path);

// The built-in plan as a plan file, with every test described in comments.
std::string planFileText(const Plan& plan);

}  // namespace qualify
