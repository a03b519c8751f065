#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>
#include <filesystem>

#include "analyzer/capture_feed.h"
#include "cli/cli_run.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"
#include "ufcs/sequence_check.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CliRun;

CliRun run(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args);
}

class CheckReports : public ::testing::Test {
  protected:
    fs::path file(const char* name) const { return folder_.path() / name; }
    testing_support::TestFolder folder_{"check_reports_test"};
};

// A simulated capture of `events` bus events, clean or with one kind of slip.
void simulatedCapture(const fs::path& path, simulator::SequenceFaults faults, int events = 300) {
    auto store = ufcs::CaptureStore::create();
    analyzer::CaptureFeed feed(*store, {});
    simulator::BusTraffic::Options options(4, 0.0);
    options.sequenceFaults = faults;
    simulator::BusTraffic traffic(options);
    for (int i = 0; i < events; ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));
    ASSERT_TRUE(ufcs::SaveCapture(*store, path).ok);
}

struct JUnitCaseRead {
    std::string name, outcome, message, details;
};

// The test cases of a JUnit file, read with an XML parser; empty if it does not parse.
std::vector<JUnitCaseRead> readJUnit(const fs::path& path) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QXmlStreamReader xml(&file);
    std::vector<JUnitCaseRead> cases;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) continue;
        if (xml.name() == u"testcase") {
            cases.push_back(
                {xml.attributes().value("name").toString().toStdString(), "passed", {}, {}});
        } else if ((xml.name() == u"failure" || xml.name() == u"skipped") && !cases.empty()) {
            cases.back().outcome = xml.name().toString().toStdString();
            cases.back().message = xml.attributes().value("message").toString().toStdString();
            cases.back().details = xml.readElementText().toStdString();
        }
    }
    if (xml.hasError()) return {};
    return cases;
}

TEST_F(CheckReports, FailOnKindsAndJUnitForALabsCI) {
    simulatedCapture(file("clean.ufcs_stream"), {});
    simulator::SequenceFaults slowPowerReady;
    slowPowerReady.slowPowerReady = true;
    simulatedCapture(file("late.ufcs_stream"), slowPowerReady);
    const std::string clean = file("clean.ufcs_stream").string();
    const std::string late = file("late.ufcs_stream").string();

    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"check", "--fail-on", "all", clean}, 0},
        {{"check", "--fail-on", "all", late}, 1},
        {{"check", "--fail-on", "late", late}, 1},
        {{"check", "--fail-on", "no_ack,too_soon", late}, 0},
        {{"check", "--fail-on", "no_ack,late", late}, 1},
        {{"check", late}, 0},
        {{"check", "--fail-on", "lateness", late}, 2},
        {{"check", "--fail-on", "late,", late}, 2},
        {{"check", "--junit", file("no-such-folder/x.xml").string(), late}, 2},
    };
    for (const Case& c : cases) {
        const CliRun result = run(c.args);
        EXPECT_EQ(result.status, c.status) << c.args[2] << ' ' << result.err;
    }
    EXPECT_NE(run({"check", "--fail-on", "lateness", late}).err.find("too_soon"),
              std::string::npos);

    ASSERT_EQ(run({"check", "--junit", file("late.xml").string(), late}).status, 0);
    const std::vector<JUnitCaseRead> read = readJUnit(file("late.xml"));
    ASSERT_EQ(read.size(), ufcs::kFindingKindCount);
    for (const JUnitCaseRead& test : read) {
        const std::optional<ufcs::FindingKind> kind = ufcs::findingKindNamed(test.name);
        ASSERT_TRUE(kind.has_value()) << test.name;
        if (*kind == ufcs::FindingKind::Late) {
            EXPECT_EQ(test.outcome, "failure");
            EXPECT_NE(test.details.find("\tPower_Ready 迟到："), std::string::npos) << test.details;
            EXPECT_NE(test.message.find(" 处"), std::string::npos);
        } else if (*kind >= ufcs::FindingKind::BaudOutOfRange) {
            EXPECT_EQ(test.outcome, "skipped") << test.name;  // no lines in a capture file
        } else {
            EXPECT_EQ(test.outcome, "passed") << test.name;
        }
    }
    ASSERT_EQ(run({"check", "--junit", file("clean.xml").string(), clean}).status, 0);
    for (const JUnitCaseRead& test : readJUnit(file("clean.xml")))
        EXPECT_NE(test.outcome, "failure") << test.name;
}

}  // namespace
