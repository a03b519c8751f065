#include <gtest/gtest.h>

#include <QXmlStreamReader>

#include "common/junit_report.h"

namespace {

using common::JUnitCase;

struct Read {
    QString name, outcome, message, details;
};

// What an XML parser makes of the report: the suite's counts and each case.
struct Parsed {
    bool ok = false;
    QString tests, failures, skipped;
    std::vector<Read> cases;
};

Parsed parse(const std::string& xml) {
    QXmlStreamReader reader(QByteArray::fromStdString(xml));
    Parsed parsed;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement()) continue;
        const auto attribute = [&](const char* name) {
            return reader.attributes().value(name).toString();
        };
        if (reader.name() == u"testsuite") {
            parsed.tests = attribute("tests");
            parsed.failures = attribute("failures");
            parsed.skipped = attribute("skipped");
        } else if (reader.name() == u"testcase") {
            parsed.cases.push_back({attribute("name"), "passed", {}, {}});
        } else if (reader.name() == u"failure" || reader.name() == u"skipped") {
            parsed.cases.back().outcome = reader.name().toString();
            parsed.cases.back().message = attribute("message");
            parsed.cases.back().details = reader.readElementText();
        }
    }
    parsed.ok = !reader.hasError();
    return parsed;
}

TEST(JUnitReport, WhatAParserReadsBackIsWhatWasWritten) {
    const std::vector<JUnitCase> cases = {
        {"plain", "ufcs", JUnitCase::Outcome::Passed, {}, {}, 0.5},
        {"<markup> & \"quotes\"", "ufcs", JUnitCase::Outcome::Failed, "a < b & c > \"d\"",
         "12\tPower_Ready 迟到：限 120 ms\n13\t<second line>\n", 0},
        {"line\nends in a name",
         "ufcs",
         JUnitCase::Outcome::Skipped,
         "two\nlines\tand a tab",
         {},
         0},
        {"control \x01\x1F and broken \xFF\xC3 UTF-8", "ufcs", JUnitCase::Outcome::Failed,
         "bell\x07", "nul-free \x0B text", 0},
    };
    const Parsed parsed = parse(common::junitXml("suite & co", cases));
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.tests, "4");
    EXPECT_EQ(parsed.failures, "2");
    EXPECT_EQ(parsed.skipped, "1");
    ASSERT_EQ(parsed.cases.size(), 4u);
    EXPECT_EQ(parsed.cases[0].outcome, "passed");
    EXPECT_EQ(parsed.cases[1].name, "<markup> & \"quotes\"");
    EXPECT_EQ(parsed.cases[1].message, "a < b & c > \"d\"");
    EXPECT_EQ(parsed.cases[1].details.toStdString(),
              "12\tPower_Ready 迟到：限 120 ms\n13\t<second line>\n");
    // Attributes keep their line ends and tabs (an XML parser would fold them otherwise).
    EXPECT_EQ(parsed.cases[2].name, "line\nends in a name");
    EXPECT_EQ(parsed.cases[2].outcome, "skipped");
    EXPECT_EQ(parsed.cases[2].message, "two\nlines\tand a tab");
    const QString replaced = QString(QChar(0xFFFD));
    EXPECT_EQ(parsed.cases[3].name,
              "control " + replaced + replaced + " and broken " + replaced + replaced + " UTF-8");
    EXPECT_EQ(parsed.cases[3].message, "bell" + replaced);
    EXPECT_EQ(parsed.cases[3].details, "nul-free " + replaced + " text");
}

TEST(JUnitReport, ElementTextServesHtmlToo) {
    EXPECT_EQ(common::xmlText("a<b & \"c\"\n\x01 电压"), "a&lt;b &amp; \"c\"\n\xEF\xBF\xBD 电压");
}

TEST(JUnitReport, AnEmptySuiteIsStillADocument) {
    const Parsed parsed = parse(common::junitXml("nothing", {}));
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.tests, "0");
    EXPECT_TRUE(parsed.cases.empty());
}

}  // namespace
