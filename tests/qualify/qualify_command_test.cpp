#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <regex>
#include <set>

#include "cli/cli_run.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_store.h"

namespace {

using testing_support::CliRun;

CliRun run(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args);
}

// The ids of the tests a run printed with `verdict`.
std::set<std::string> testsWith(const std::string& out, const std::string& verdict) {
    std::set<std::string> ids;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos &&
            line.compare(tab + 1, verdict.size() + 1, verdict + "\t") == 0)
            ids.insert(line.substr(0, tab));
    }
    return ids;
}

class QualifyCommand : public ::testing::Test {
  protected:
    testing_support::IsolatedLocks locks_;
    testing_support::TestFolder folder_{"qualify_command_test"};
};

// The clean simulated charger passes; each fault of the charger (or of the
// pair) fails the tests that judge it, and nothing else.
TEST_F(QualifyCommand, EachChargerFaultFailsExactlyItsTests) {
    struct Case {
        const char* fault;    // empty: the clean charger
        const char* failing;  // the ids that may fail (a regular expression); empty: none
        std::size_t atLeast;
    };
    const Case cases[] = {
        {"", "", 0},
        {"late-ready", R"(M3\.high\.ready)", 1},
        {"output-off", R"(M\d+\.\w+\.voltage)", 5},
        {"readback-off", R"(M\d+\.\w+\.readback)", 9},
        {"refuse-in-range", R"(M\d+\.high\.accept)", 3},
        {"accept-out-of-range", R"(out-of-range)", 1},
        {"unanswered", R"(device-info)", 1},
        {"slow-ack", R"(sequence\.ack)", 1},
        {"skip-number", R"(sequence\.numbering)", 1},
        {"drop-ack", R"(sequence\.ack)", 1},
        {"repeat-number", R"(sequence\.numbering)", 1},
        {"slow-power-ready", R"(M\d+\.\w+\.ready)", 1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"qualify", "--simulate"};
        if (*c.fault) args.insert(args.end(), {"--fault", c.fault});
        const CliRun result = run(args);
        const std::set<std::string> failed = testsWith(result.out, "FAIL");
        EXPECT_EQ(result.status, failed.empty() ? 0 : 1) << c.fault << '\n' << result.err;
        EXPECT_GE(failed.size(), c.atLeast) << c.fault;
        if (!*c.failing) {
            EXPECT_TRUE(failed.empty()) << c.fault << "\n" << result.out;
        }
        const std::regex expected(c.failing);
        for (const std::string& id : failed)
            EXPECT_TRUE(std::regex_match(id, expected)) << c.fault << " also failed " << id;
        // Three output modes: every point of every mode was judged.
        EXPECT_GE(testsWith(result.out, "PASS").size() + failed.size() +
                      testsWith(result.out, "NOT MEASURABLE").size(),
                  50u)
            << c.fault;
    }
}

TEST_F(QualifyCommand, TheReportFolderHoldsTheCaptureTheJsonAndTheJUnitFile) {
    const auto folder = folder_.path() / "report";
    const CliRun result = run({"qualify", "--simulate", "--report", folder.string(), "--json"});
    ASSERT_EQ(result.status, 0) << result.err;

    QFile file(QString::fromStdString((folder / "report.json").string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    EXPECT_EQ(saved.toStdString(), result.out);  // --json prints what the folder keeps
    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(saved, &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(report["schema"].toString(), "ufcs-qualification/1");
    EXPECT_EQ(report["charger"].toObject()["modes"].toArray().size(), 3);
    const QJsonObject summary = report["summary"].toObject();
    EXPECT_EQ(summary["verdict"].toString(), "PASS");
    EXPECT_EQ(summary["failed"].toInt(), 0);

    auto store = ufcs::CaptureStore::create();
    ASSERT_TRUE(ufcs::OpenCapture(*store, folder / "capture.ufcs_stream").ok);
    int passed = 0, notMeasurable = 0;
    for (const QJsonValue& value : report["tests"].toArray()) {
        const QJsonObject test = value.toObject();
        const QString verdict = test["verdict"].toString();
        passed += verdict == "PASS";
        notMeasurable += verdict == "NOT MEASURABLE";
        if (verdict == "NOT MEASURABLE") {
            EXPECT_FALSE(test["reason"].toString().isEmpty())
                << test["id"].toString().toStdString();
        }
        if (verdict == "PASS") {
            EXPECT_FALSE(test["rows"].toArray().isEmpty()) << test["id"].toString().toStdString();
        }
        // The rows the report names are records of the saved capture.
        for (const QJsonValue& row : test["rows"].toArray())
            EXPECT_LT(static_cast<uint32_t>(row.toInt()), store->count());
    }
    EXPECT_EQ(summary["passed"].toInt(), passed);
    EXPECT_EQ(summary["not_measurable"].toInt(), notMeasurable);

    // The page stands alone: the picture inline, nothing fetched.
    QFile page(QString::fromStdString((folder / "report.html").string()));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(html.contains("<svg"));
    EXPECT_TRUE(html.contains("<polyline"));
    EXPECT_FALSE(html.contains("src=") || html.contains("href=") || html.contains("<script"));
    EXPECT_EQ(html.count("<tr class="), report["tests"].toArray().size());

    QFile junit(QString::fromStdString((folder / "junit.xml").string()));
    ASSERT_TRUE(junit.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&junit);
    int cases = 0, skipped = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"testcase") ++cases;
        if (xml.isStartElement() && xml.name() == u"skipped") ++skipped;
    }
    EXPECT_FALSE(xml.hasError());
    EXPECT_EQ(cases, report["tests"].toArray().size());
    EXPECT_EQ(skipped, notMeasurable);
}

TEST_F(QualifyCommand, WrongOptionsAreRefusedBeforeAnythingRuns) {
    const CliRun plan = run({"qualify", "--print-plan"});
    EXPECT_EQ(plan.status, 0);
    EXPECT_NE(plan.out.find("tPowReady"), std::string::npos);
    EXPECT_NE(plan.out.find("out-of-range"), std::string::npos);

    EXPECT_EQ(run({"qualify", "--simulate", "--fault", "unplug@1"}).status, 2);
    const auto loose = folder_.path() / "loose.ini";
    {
        QFile f(QString::fromStdString(loose.string()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[limits]\nack_ms = 20\n");
    }
    const CliRun refused = run({"qualify", "--simulate", "--plan", loose.string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("第 2 行"), std::string::npos) << refused.err;
    EXPECT_EQ(run({"qualify", "--plan", (folder_.path() / "absent.ini").string()}).status, 2);
    EXPECT_EQ(run({"qualify", "--simulate", "--fault", "late"}).status, 2);
    const CliRun junit =
        run({"qualify", "--simulate", "--junit", (folder_.path() / "absent" / "j.xml").string()});
    EXPECT_EQ(junit.status, 2);
    EXPECT_NE(junit.err.find("cannot save"), std::string::npos);
    // A report folder that cannot be made: the run is told, and fails.
    const auto blocker = folder_.path() / "file";
    {
        QFile f(QString::fromStdString(blocker.string()));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const CliRun blocked = run({"qualify", "--simulate", "--report", (blocker / "sub").string()});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("无法建立文件夹"), std::string::npos) << blocked.err;
}

}  // namespace
