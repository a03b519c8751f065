#include "qualify/plan_file.h"

#include <fstream>
#include <vector>

#include <cmath>

#include "common/format.h"
#include "ufcs/list_row.h"
#include "ufcs/standard_limits.h"

namespace qualify {
namespace {

using common::format;

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> listed(std::string_view value) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t comma = std::min(value.find(',', start), value.size());
        const std::string_view item = trimmed(value.substr(start, comma - start));
        if (!item.empty()) items.emplace_back(item);
        start = comma + 1;
    }
    return items;
}

// A limit no looser than the standard's: `atLeast` limits may only grow.
std::optional<std::string> tightened(std::string_view key, double ms, uint32_t standardUs,
                                     bool atLeast, uint32_t& us) {
    if (!(ms >= 0.2 && ms <= 60'000))
        return format("%s 应为 0.2 到 60000 毫秒", std::string(key).c_str());
    const auto wanted = static_cast<uint32_t>(std::lround(ms * 1000));
    const bool looser = atLeast ? wanted < standardUs : wanted > standardUs;
    if (looser) {
        return format("计划只能收紧标准的限值：%s %g 比标准的 %s %s", std::string(key).c_str(), ms,
                      ufcs::millisecondsText(standardUs).c_str(), atLeast ? "短" : "长");
    }
    us = wanted;
    return std::nullopt;
}

std::optional<std::string> setLimit(Plan& plan, std::string_view key, std::string_view value) {
    const std::optional<double> number = common::parseNumber(std::string(value));
    if (!number)
        return format("%s 的值“%s”不是数", std::string(key).c_str(), std::string(value).c_str());
    using ufcs::LimitId;
    const auto standard = [](LimitId id) { return ufcs::standardLimit(id).microseconds; };
    ufcs::SequenceWindows& w = plan.windows;
    if (key == "ack_ms")
        return tightened(key, *number, standard(LimitId::AckReceive), false, w.ackUs);
    if (key == "answer_ms")
        return tightened(key, *number, standard(LimitId::SenderResponse), false, w.answerUs);
    if (key == "power_supply_ms")
        return tightened(key, *number, standard(LimitId::PowerSupply), false, w.powerSupplyUs);
    if (key == "gap_ms")
        return tightened(key, *number, standard(LimitId::MessageTransDelay), true, w.messageGapUs);
    if (key == "power_ready_ms") {
        // One window for every voltage: no looser than the shortest tPowReady.
        uint32_t us = 0;
        if (auto problem = tightened(key, *number, standard(LimitId::PowerReady11V), false, us))
            return problem;
        w.powerReadyUs = us;
        return std::nullopt;
    }
    const auto tolerance = [&](uint32_t standardMv,
                               std::optional<uint32_t>& into) -> std::optional<std::string> {
        if (!(*number >= 0 && *number <= standardMv))
            return format("%s 应在 0 到 %u mV 之间（计划只能收紧标准的限值）",
                          std::string(key).c_str(), standardMv);
        into = static_cast<uint32_t>(std::lround(*number));
        return std::nullopt;
    };
    if (key == "voltage_mv") return tolerance(900, plan.voltageToleranceMv);
    if (key == "readback_mv") return tolerance(100, plan.readBackToleranceMv);
    return format("[limits] 里没有 %s", std::string(key).c_str());
}

}  // namespace

std::variant<Plan, std::string> parsePlan(std::string_view text) {
    Plan plan;
    std::string section;
    unsigned lineNumber = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (lineNumber == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty() || line.front() == ';') continue;
        const auto problem = [&](const std::string& what) {
            return format("第 %u 行：%s", lineNumber, what.c_str());
        };
        if (line.front() == '[') {
            if (line.back() != ']') return problem("节名缺少 ]");
            section = std::string(trimmed(line.substr(1, line.size() - 2)));
            if (section != "tests" && section != "points" && section != "limits")
                return problem("没有 [" + section + "] 这一节（有 tests、points、limits）");
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return problem("应为“键 = 值”");
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (section.empty()) return problem("键“" + std::string(key) + "”前面没有节名");
        if (section == "tests" && key == "only") {
            plan.only = listed(value);
        } else if (section == "points" && key == "extra_mv") {
            for (const std::string& item : listed(value)) {
                const std::optional<double> mv = common::parseNumber(item);
                if (!mv || *mv < 3'000 || *mv > 36'000 || *mv != std::floor(*mv))
                    return problem("电压点“" + item + "”应为 3000 到 36000 之间的整毫伏数");
                plan.extraMillivolts.push_back(static_cast<uint32_t>(*mv));
            }
        } else if (section == "limits") {
            if (auto wrong = setLimit(plan, key, value)) return problem(*wrong);
        } else {
            return problem("[" + section + "] 里没有 " + std::string(key));
        }
    }
    return plan;
}

std::string planFileText(const Plan& plan) {
    std::string only;
    for (const std::string& prefix : plan.only)
        only += (only.empty() ? "" : ", ") + prefix;
    std::string extra;
    for (const uint32_t mv : plan.extraMillivolts)
        extra += (extra.empty() ? "" : ", ") + std::to_string(mv);
    const ufcs::SequenceWindows& w = plan.windows;
    const auto ms = [](uint32_t us) { return format("%g", us / 1000.0); };
    std::string text =
        "# ufcs qualify 的测试计划（仪器作为充电设备）。改好后用 --plan 文件 运行。\n"
        "#\n"
        "# 测试（编号）：\n"
        "#   handshake            连接时的握手，第一个 Ping 得到 ACK\n"
        "#   default-output       请求之前总线电压在 4.85-5.50 V\n"
        "#   capabilities.time    Get_Output_Capabilities 在 tSenderResponse 内得到回答\n"
        "#   capabilities.table   输出能力表：1-7 个模式，编号连续，最低 ≤ 最高，电流步进 0-4\n"
        "#   source-info, device-info, error-info   各个问题及时回答\n"
        "#   Mn.low, Mn.high      每个输出模式 n 的最低、最高电压（半额电流）\n"
        "#   Mn.current           每个输出模式 n 的最低电压、最大电流\n"
        "#   Mn.<电压>mV          [points] 里另加的电压点\n"
        "#     .accept            Accept 在 tSenderResponse 内\n"
        "#     .ready             Power_Ready 在所请求电压的 tPowReady 内（不超过 tPowerSupply）\n"
        "#     .voltage           Power_Ready 之后实测电压在表 39 的准确度内\n"
        "#     .readback          Source_Information 回读电压与实测相差不超过 100 mV\n"
        "#     .current           回读电流与实测负载电流在表 40 的准确度内\n"
        "#   out-of-range         高于所有模式 1 V 的请求被拒绝（原因：超出范围），输出不变\n"
        "#   soft-reset           Soft_Reset 被接受，编号从 0 重新开始\n"
        "#   sequence.ack         全程每条消息都及时得到 ACK\n"
        "#   sequence.numbering   全程消息编号连续\n"
        "#   sequence.spacing     同一方两条消息间隔至少 tMsgTransDelay\n"
        "#   transition.overshoot 无法测量：仪器看不到调压过程中的过冲\n"
        "#   current.set          无法测量：电流由负载决定\n"
        "\n[tests]\n"
        "# 只做编号以这些开头的测试（逗号隔开）；不写则全做\n" +
        std::string(only.empty() ? "# only = handshake, M2., sequence.\n"
                                 : "only = " + only + "\n") +
        "\n[points]\n# 另加的请求电压（毫伏），在每个包含它的输出模式里各做一次\n" +
        std::string(extra.empty() ? "# extra_mv = 9000, 12000\n" : "extra_mv = " + extra + "\n") +
        "\n[limits]\n# 毫秒；只能比标准严（gap_ms 只能更长）\n" + "ack_ms = " + ms(w.ackUs) +
        "            # tACKReceive，7.3 表 27\n" + "answer_ms = " + ms(w.answerUs) +
        "         # tSenderResponse，7.3 表 27\n" +
        (w.powerReadyUs
             ? "power_ready_ms = " + ms(*w.powerReadyUs) + "\n"
             : std::string("# power_ready_ms = 100  # 所有电压用同一个时限；不写则按电压 "
                           "120/275/400 ms（tPowReady，9.3 表 38）\n")) +
        "power_supply_ms = " + ms(w.powerSupplyUs) + "  # tPowerSupply，7.3 表 27\n" +
        "gap_ms = " + ms(w.messageGapUs) + "             # tMsgTransDelay，7.3 表 27\n" +
        "# 毫伏；只能比表 39 严\n" +
        (plan.voltageToleranceMv ? format("voltage_mv = %u\n", *plan.voltageToleranceMv)
                                 : std::string("# voltage_mv = 100     # |输出 - 请求|\n")) +
        (plan.readBackToleranceMv ? format("readback_mv = %u\n", *plan.readBackToleranceMv)
                                  : std::string("# readback_mv = 50     # |输出 - 回读|\n"));
    return text;
}

std::variant<Plan, std::string> loadPlanFile(const std::filesystem::path& path) {
    constexpr std::streamsize kLargestPlan = 64 * 1024;
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes(kLargestPlan + 1);
    if (file) file.read(bytes.data(), kLargestPlan + 1);
    if (!file && !file.eof()) return std::string("无法读取");
    if (file.gcount() > kLargestPlan) return std::string("大于 64 KB，不是计划文件");
    return parsePlan(std::string_view(bytes.data(), static_cast<std::size_t>(file.gcount())));
}

}  // namespace qualify
