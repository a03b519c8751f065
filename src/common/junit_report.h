#pragma once
// A JUnit XML report, the form a lab's CI server reads test results in: one
// <testsuite> of test cases, each passed, failed (with a message and the
// evidence) or skipped.

#include <string>
#include <vector>

namespace common {

struct JUnitCase {
    enum class Outcome { Passed, Failed, Skipped };
    std::string name;
    std::string className;
    Outcome outcome = Outcome::Passed;
    std::string message;  // why it failed or was skipped (one line)
    std::string details;  // the evidence, any number of lines
    double seconds = 0;
};

// The whole document, UTF-8. Text is escaped for XML; characters XML cannot
// carry (control characters, broken UTF-8) become U+FFFD.
std::string junitXml(const std::string& suiteName, const std::vector<JUnitCase>& cases);

// `text` as XML (or HTML) element text: markup escaped, what XML cannot
// carry replaced by U+FFFD.
std::string xmlText(const std::string& text);

}  // namespace common
