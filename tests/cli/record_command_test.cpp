#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli/cli_run.h"
#include "recorder/journal.h"
#include "recorder/osa_file.h"
#include "support/comma_locale.h"
#include "support/fallback_message.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CliRun;
using testing_support::runUfcs;

class RecordCommandTest : public ::testing::Test {
  protected:
    std::string file(const char* name) const { return folder.file(name); }
    // A recording's journal at t.osa.journal, written and still held.
    std::unique_ptr<recorder::Journal> journalOf30Samples(recorder::SampleDocument& document) {
        std::string error;
        auto journal = recorder::Journal::create(file("t.osa.journal"), document, error);
        EXPECT_TRUE(journal) << error;
        for (uint16_t i = 0; journal && i < 30; ++i)
            document.appendSample(5000, i, {true, false, true});
        if (journal && !journal->flush()) journal.reset();
        return journal;
    }
    testing_support::IsolatedLocks locks;
    testing_support::TestFolder folder{"record_command_test"};
};

TEST_F(RecordCommandTest, RecordThenReadAndExportTheFile) {
    const CliRun record =
        runUfcs({"record", "--simulate", "--seconds", "0.8", "-o", file("t.osa")});
    ASSERT_EQ(record.status, 0) << record.err;
    EXPECT_NE(record.err.find("已保存"), std::string::npos);
    EXPECT_FALSE(fs::exists(file("t.osa.journal")));

    const CliRun info = runUfcs({"osa", file("t.osa")});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(
        info.out.starts_with("version: 220\nsignature: ok\nperiod: 0.1\ncalibrated: 1\n"
                             "duration: 0:00:0"))
        << info.out;
    EXPECT_NE(info.out.find("\nenergy: 0.0"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find(" Wh\ncharge: 0."), std::string::npos) << info.out;
    EXPECT_NE(info.out.find(" mAh\nchannel 0: count "), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\nchannel 2: count "), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("channel 3"), std::string::npos);  // only channels with samples
    const CliRun json = runUfcs({"osa", file("t.osa"), "--json", "--samples"});
    EXPECT_TRUE(json.out.starts_with("{\"version\":220,\"signature_ok\":true,\"period\":0.1"))
        << json.out;
    EXPECT_NE(json.out.find("\"voltage_mv\":[4"),
              json.out.find("\"voltage_mv\":[5"));  // about 5 V first

    const CliRun csv =
        runUfcs({"csv", file("t.osa"), "-o", file("t.csv"), "--volts", "mV", "--utf8"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(fs::file_size(file("t.csv")) > 40, true);
    const CliRun period = runUfcs({"csv", file("t.osa"), "-o", file("p.csv"), "--period", "601"});
    EXPECT_EQ(period.status, 2);
    EXPECT_TRUE(period.err.starts_with("ufcs csv: --period: 请填入一个在1和600之间的整数（"))
        << period.err;
    EXPECT_FALSE(fs::exists(file("p.csv")));
}

// Every sample, or a part of the test, as rows; wrong times are told by name.
TEST_F(RecordCommandTest, CsvOfEverySampleOrOfAPart) {
    ASSERT_EQ(runUfcs({"record", "--simulate", "--seconds", "1.5", "-o", file("t.osa")}).status, 0);
    auto rows = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args = {"csv", file("t.osa"), "-o", file("p.csv"), "--utf8"};
        args.insert(args.end(), options.begin(), options.end());
        const CliRun run = runUfcs(args);
        EXPECT_EQ(run.status, 0) << run.err;
        std::ifstream csv(file("p.csv"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(csv, line);)
            lines.push_back(line.substr(0, line.find(',')));
        return lines;
    };
    const std::vector<std::string> every = rows({"--every-sample", "--to", "0.3"});
    EXPECT_EQ(every, (std::vector<std::string>{"\xEF\xBB\xBF时间(0.1s)", "0:00:00.0", "0:00:00.1",
                                               "0:00:00.2", "0:00:00.3"}));
    EXPECT_EQ(rows({"--period", "0.1", "--from", "0.2", "--to", "0.3"}),
              (std::vector<std::string>{"\xEF\xBB\xBF时间(0.1s)", "0:00:00.2", "0:00:00.3"}));
    EXPECT_EQ(rows({"--from", "0.5"}),
              (std::vector<std::string>{"\xEF\xBB\xBF时间(1s)", "0:00:01"}));

    const struct {
        std::vector<std::string> options;
        std::string says;
    } wrong[] = {
        {{"--from", "soon"}, "ufcs csv: --from 'soon' is not a time in the test"},
        {{"--to", "-1"}, "ufcs csv: --to '-1' is not a time in the test"},
        {{"--from", "1", "--to", "0.5"}, "ufcs csv: --to comes before --from"},
        {{"--period", "0"}, "ufcs csv: --period: 请填入"},
    };
    for (const auto& w : wrong) {
        std::vector<std::string> args = {"csv", file("t.osa"), "-o", file("w.csv")};
        args.insert(args.end(), w.options.begin(), w.options.end());
        const CliRun run = runUfcs(args);
        EXPECT_EQ(run.status, 2) << w.says;
        EXPECT_TRUE(run.err.starts_with(w.says)) << run.err;
        EXPECT_FALSE(fs::exists(file("w.csv")));
    }
    const CliRun noFolder = runUfcs({"csv", file("t.osa"), "-o", file("none/w.csv")});
    EXPECT_EQ(noFolder.status, 2);
    EXPECT_TRUE(noFolder.err.starts_with("ufcs csv: cannot save to '")) << noFolder.err;
    EXPECT_NE(noFolder.err.find("不存在"), std::string::npos) << noFolder.err;
}

// A German or French user's locale changes no number in a file, a text or an option.
TEST_F(RecordCommandTest, NumbersKeepTheirPointUnderACommaLocale) {
    const testing_support::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << testing_support::CommaLocale::kMissing;
    const CliRun record =
        runUfcs({"record", "--simulate", "--seconds", "0.5", "-o", file("t.osa")});
    ASSERT_EQ(record.status, 0) << record.err;
    EXPECT_NE(record.err.find(" V  "), std::string::npos);
    EXPECT_EQ(record.err.find(','), std::string::npos) << record.err;  // "   0.5 s ... 5.000 V"
    const CliRun info = runUfcs({"osa", file("t.osa"), "--json"});
    EXPECT_NE(info.out.find("\"period\":0.1"), std::string::npos) << info.out;
    const CliRun csv = runUfcs({"csv", file("t.osa"), "-o", file("t.csv"), "--utf8"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    std::ifstream exported(file("t.csv"));
    std::string header, row;
    std::getline(exported, header);
    std::getline(exported, row);
    // 0:00:00,5.000,1.000,5.000: three commas, each value with its point.
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), 3) << row;
    EXPECT_EQ(std::count(row.begin(), row.end(), '.'), 3) << row;
}

TEST_F(RecordCommandTest, FaultsStopTheTestSayWhyAndKeepWhatWasRecorded) {
    const CliRun refused = runUfcs(
        {"record", "--simulate", "--fault", "refuse-start", "--seconds", "1", "-o", file("r.osa")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("设备拒绝!"), std::string::npos);
    EXPECT_FALSE(fs::exists(file("r.osa")));

    const CliRun unplugged = runUfcs(
        {"record", "--simulate", "--fault", "unplug@0.5", "--seconds", "5", "-o", file("u.osa")});
    EXPECT_EQ(unplugged.status, 1);
    EXPECT_NE(unplugged.err.find("设备非正常中断!"), std::string::npos);
    const recorder::OsaLoad load = recorder::loadOsa(file("u.osa"));
    ASSERT_TRUE(load.document);
    EXPECT_GT(load.document->channel(0).count(), 2u);

    EXPECT_EQ(runUfcs({"record", "--fault", "misses", "-o", file("x.osa")}).status,
              2);  // no --simulate
    EXPECT_EQ(runUfcs({"record", "--simulate", "--fault", "melt", "-o", file("x.osa")}).status, 2);
}

#ifndef _WIN32  // device files
// The final save refuses the write: the samples go to the user's data folder
// and, once safe there, the journal goes.
TEST_F(RecordCommandTest, AFailedSaveKeepsTheSamplesInTheDataFolder) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    testing_support::IsolatedDataFolder data;
    fs::create_symlink("/dev/full", file("full.osa"));
    const CliRun full =
        runUfcs({"record", "--simulate", "--seconds", "0.6", "-o", file("full.osa")});
    EXPECT_EQ(full.status, 1);
    const auto fallback = testing_support::savedElsewhere(full.err);
    ASSERT_TRUE(fallback) << full.err;
    EXPECT_EQ(fallback->parent_path(), data.fallbackFolder());
    const recorder::OsaLoad load = recorder::loadOsa(*fallback);
    ASSERT_TRUE(load.document) << load.message;
    EXPECT_GT(load.document->channel(0).count(), 2u);
    EXPECT_FALSE(fs::exists(file("full.osa.journal")));
}
#endif

TEST_F(RecordCommandTest, RecoverTurnsAJournalIntoAFile) {
    recorder::SampleDocument document;
    auto journal = journalOf30Samples(document);
    ASSERT_TRUE(journal);
    const CliRun recover = runUfcs({"recover", file("t.osa.journal"), "-o", file("back.osa")});
    ASSERT_EQ(recover.status, 0) << recover.err;
    // Samples are counted once for voltage and current together.
    EXPECT_NE(recover.err.find("已恢复 30 个采样"), std::string::npos) << recover.err;
    EXPECT_EQ(recorder::loadOsa(file("back.osa")).document->channel(2).at(29), 29);
    EXPECT_EQ(runUfcs({"osa", file("t.osa.journal")}).status, 1);  // not an .osa file
}

// A journal left by a recording that never ended is never truncated by the next one.
TEST_F(RecordCommandTest, ARerunNeverOverwritesAJournalLeftBehind) {
    recorder::SampleDocument document;
    auto journal = journalOf30Samples(document);
    ASSERT_TRUE(journal);
    const auto size = fs::file_size(file("t.osa.journal"));
    const std::vector<std::string> rerun = {"record", "--simulate", "--seconds",
                                            "0.5",    "-o",         file("t.osa")};
    std::vector<std::string> discarding = rerun;
    discarding.push_back("--discard-journal");

    // Still written by a running recording: refused either way.
    for (const auto& args : {rerun, discarding}) {
        const CliRun refused = runUfcs(args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find("正被另一个正在进行的记录使用"), std::string::npos)
            << refused.err;
    }
    journal.reset();  // that recording crashed: its journal stays
    const CliRun refused = runUfcs(rerun);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("ufcs recover " + file("t.osa.journal")), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("--discard-journal"), std::string::npos);
    EXPECT_EQ(fs::file_size(file("t.osa.journal")), size);
    EXPECT_FALSE(fs::exists(file("t.osa")));

    const CliRun discarded = runUfcs(discarding);
    ASSERT_EQ(discarded.status, 0) << discarded.err;
    EXPECT_FALSE(fs::exists(file("t.osa.journal")));
    EXPECT_TRUE(fs::exists(file("t.osa")));
}

// Two tests side by side: each quantity of both, and B - A, as text and JSON;
// an empty test has nothing to divide by; a file that cannot be read is told.
TEST_F(RecordCommandTest, CompareTwoTestsPrintsBothAndTheDifference) {
    const auto save = [this](const char* name, uint16_t mv, uint16_t ma, int samples) {
        recorder::SampleDocument document;
        for (int i = 0; i < samples; ++i)
            document.appendSample(mv, ma, {true, false, true});
        ASSERT_TRUE(recorder::saveOsa(document, file(name)).ok);
    };
    save("a.osa", 5000, 1000, 20);  // 2 s at 5 V, 1 A
    save("b.osa", 9000, 2000, 10);  // 1 s at 9 V, 2 A
    save("empty.osa", 0, 0, 0);

    const CliRun json = runUfcs({"osa", file("a.osa"), "--compare", file("b.osa"), "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    for (const char* expected :
         {"\"duration_s\":2,\"wh\":0.00277778,\"mah\":0.555556,\"mean_v\":5,\"peak_v\":5,"
          "\"mean_a\":1,\"peak_a\":1}",
          "\"duration_s\":1,\"wh\":0.005,\"mah\":0.555556,\"mean_v\":9,\"peak_v\":9,"
          "\"mean_a\":2,\"peak_a\":2}",
          "\"difference\":{\"duration_s\":-1,\"wh\":0.00222222,\"mah\":0,\"mean_v\":4,"})
        EXPECT_NE(json.out.find(expected), std::string::npos) << expected << "\n" << json.out;

    const CliRun text = runUfcs({"osa", file("a.osa"), "--compare", file("b.osa")});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("平均电压 (V)    5.000         9.000         +4.000（+80.0 %）"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("时长 (s)        2.0           1.0           -1.0（-50.0 %）"),
              std::string::npos)
        << text.out;

    const CliRun fromEmpty = runUfcs({"osa", file("empty.osa"), "--compare", file("a.osa")});
    ASSERT_EQ(fromEmpty.status, 0) << fromEmpty.err;
    EXPECT_NE(fromEmpty.out.find("时长 (s)        0.0           2.0           +2.0\n"),
              std::string::npos)
        << fromEmpty.out;

    const CliRun missing = runUfcs({"osa", file("a.osa"), "--compare", file("none.osa")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.osa"), std::string::npos) << missing.err;
    EXPECT_EQ(runUfcs({"osa", file("a.osa"), "--compare", file("b.osa"), "--samples"}).status, 2);
}

}  // namespace
