#include "cli/output.h"

#include <cmath>
#include <ostream>

#include "cli/cli.h"
#include "common/format.h"

namespace cli {

std::string screenText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string colourText(uint32_t colour) {
    return common::format("#%02X%02X%02X", ufcs::redOf(colour), ufcs::greenOf(colour),
                          ufcs::blueOf(colour));
}

void printRowTabbed(const ufcs::ListRow& row, std::ostream& out) {
    // Column 0 is " %d" of the record index; printed without the space.
    std::string_view index = row.columns[0];
    if (!index.empty() && index.front() == ' ') index.remove_prefix(1);
    out << index;
    for (std::size_t column = 1; column < ufcs::kListColumns; ++column)
        out << '\t' << row.columns[column];
    out << '\t' << colourText(row.colour) << '\n';
}

std::optional<double> secondsInTest(const Arguments& parsed, const char* option,
                                    const std::string& command, std::ostream& err) {
    const std::string text = parsed.value(option);
    const std::optional<double> seconds = common::parseNumber(text);
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > 4e8) {
        reportBadArgument(command,
                          std::string(option) + " '" + text +
                              "' is not a time in the test (seconds from its start)",
                          err);
        return std::nullopt;
    }
    return seconds;
}

}  // namespace cli
