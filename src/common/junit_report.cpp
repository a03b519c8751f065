#include "common/junit_report.h"

#include <algorithm>

#include "common/format.h"

namespace common {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    uint32_t code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool outside =
        code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF;
    return overlong || outside ? 0 : length;
}

// Escaped for an attribute (line ends kept as references) or for element text.
std::string escaped(const std::string& text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const std::size_t length = utf8Length(text, i);
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        ++i;
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20)
                    out += kReplacement;
                else
                    out += c;
        }
    }
    return out;
}

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + escaped(value, true) + "\"";
}

}  // namespace

std::string xmlText(const std::string& text) {
    return escaped(text, false);
}

std::string junitXml(const std::string& suiteName, const std::vector<JUnitCase>& cases) {
    using Outcome = JUnitCase::Outcome;
    const auto count = [&](Outcome outcome) {
        return std::to_string(std::count_if(
            cases.begin(), cases.end(), [&](const JUnitCase& c) { return c.outcome == outcome; }));
    };
    double seconds = 0;
    for (const JUnitCase& c : cases)
        seconds += c.seconds;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n<testsuite";
    xml += attribute("name", suiteName) + attribute("tests", std::to_string(cases.size())) +
           attribute("failures", count(Outcome::Failed)) + attribute("errors", "0") +
           attribute("skipped", count(Outcome::Skipped)) +
           attribute("time", format("%.3f", seconds)) + ">\n";
    for (const JUnitCase& c : cases) {
        xml += "  <testcase" + attribute("name", c.name) + attribute("classname", c.className) +
               attribute("time", format("%.3f", c.seconds));
        if (c.outcome == Outcome::Passed) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n    <";
        xml += c.outcome == Outcome::Failed ? "failure" : "skipped";
        xml += attribute("message", c.message) + ">" + escaped(c.details, false) + "</";
        xml += c.outcome == Outcome::Failed ? "failure" : "skipped";
        xml += ">\n  </testcase>\n";
    }
    xml += "</testsuite>\n</testsuites>\n";
    return xml;
}

}  // namespace common
