// The capture document without a window: what it says on the status line,
// its unsaved state through start, save and open, find and the faulty rows,
// the export, and the events its observers hear.
#include "analyzer/capture_document.h"

#include <gtest/gtest.h>

#include <fstream>

#include "analyzer/capture_feed.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"

namespace {

struct Heard final : analyzer::CaptureDocumentObserver {
    int cleared = 0, opened = 0, saved = 0, status = 0;
    uint32_t arrived = 0;
    void onCaptureCleared() override { ++cleared; }
    void onCaptureOpened() override { ++opened; }
    void onRecordsArrived(uint32_t count) override { arrived = count; }
    void onCaptureSaved() override { ++saved; }
    void onStatusChanged() override { ++status; }
};

class CaptureDocumentTest : public testing::Test {
  protected:
    CaptureDocumentTest() { document.addObserver(heard); }

    // A live capture of `events` bus events of a pair that slips now and then.
    void capture(int events) {
        document.captureStarting();
        analyzer::CaptureFeed feed(*store, {});
        simulator::BusTraffic::Options options(4, 0.05);
        options.sequenceFaults.dropAck = true;
        simulator::BusTraffic traffic(options);
        for (int i = 0; i < events; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
        document.recordsAdded(store->count());
        document.list().appendNew();
        document.refreshChecks();
    }
    std::string file(const char* name) const { return folder.file(name); }

    testing_support::TestFolder folder{"capture_document_test"};
    testing_support::IsolatedDataFolder data;
    std::unique_ptr<ufcs::CaptureStore> store = ufcs::CaptureStore::create();
    analyzer::CaptureDocument document{*store, {}};
    Heard heard;
};

TEST_F(CaptureDocumentTest, AFreshDocumentHasNothingToSave) {
    EXPECT_FALSE(document.unsaved());
    EXPECT_EQ(document.capturedRecords(), 0u);
    EXPECT_EQ(document.statusText(), "记录 0 条    时序问题 0 处");
}

TEST_F(CaptureDocumentTest, ACaptureIsUnsavedUntilSavedAndOpenedOnesAreNot) {
    capture(200);
    EXPECT_EQ(heard.cleared, 1);
    EXPECT_EQ(heard.arrived, store->count());
    ASSERT_GT(document.capturedRecords(), 100u);
    EXPECT_TRUE(document.unsaved());
    const std::string status = document.statusText();
    EXPECT_TRUE(
        status.starts_with("记录 " + std::to_string(document.capturedRecords()) + " 条    时长 "))
        << status;

    ASSERT_TRUE(document.save(file("a.ufcs_stream"), {}).ok);
    EXPECT_FALSE(document.unsaved());
    EXPECT_EQ(heard.saved, 1);
    EXPECT_EQ(document.openFile(), file("a.ufcs_stream"));
    EXPECT_NE(document.statusText().find("    文件 a.ufcs_stream"), std::string::npos);
    EXPECT_NE(document.statusText().find("已保存 " + std::to_string(document.capturedRecords()) +
                                         " 条记录到 " + file("a.ufcs_stream")),
              std::string::npos);

    // A save that fails keeps the capture unsaved, and says where a copy went.
    capture(50);
    EXPECT_TRUE(document.openFile().empty());
    const common::FileResult failed = document.save(file("none/b.ufcs_stream"), {});
    EXPECT_FALSE(failed.ok);
    EXPECT_NE(failed.message.find(data.fallbackFolder().string()), std::string::npos)
        << failed.message;
    EXPECT_TRUE(document.unsaved());

    const uint32_t saved = [&] {
        auto other = ufcs::CaptureStore::create();
        EXPECT_TRUE(ufcs::OpenCapture(*other, file("a.ufcs_stream")).ok);
        return other->count();
    }();
    ASSERT_TRUE(document.open(file("a.ufcs_stream")).ok);
    EXPECT_EQ(heard.opened, 1);
    EXPECT_EQ(store->count(), saved);
    EXPECT_FALSE(document.unsaved());
    // A file that is not a capture leaves the document as it was.
    std::ofstream(file("junk.ufcs_stream")) << "not a capture";
    EXPECT_FALSE(document.open(file("junk.ufcs_stream")).ok);
    EXPECT_EQ(document.openFile(), file("a.ufcs_stream"));
    EXPECT_EQ(heard.opened, 1);
}

TEST_F(CaptureDocumentTest, FindAndFaultyRowsLeaveANoteWhenNothingMatches) {
    capture(300);
    const struct {
        const char* text;
        bool found;
    } finds[] = {{"Ping", true}, {"ping", true}, {"no such text", false}};
    for (const auto& find : finds) {
        const auto row = document.findRow(find.text, std::nullopt, ufcs::SearchDirection::Forward);
        EXPECT_EQ(row.has_value(), find.found) << find.text;
        const bool noted = document.statusText().find(std::string("找不到“") + find.text + "”") !=
                           std::string::npos;
        EXPECT_EQ(noted, !find.found) << find.text;
    }
    // Forward from a found row goes on past it; backward comes back.
    const auto first = document.findRow("Ping", std::nullopt, ufcs::SearchDirection::Forward);
    const auto second = document.findRow("Ping", first, ufcs::SearchDirection::Forward);
    ASSERT_TRUE(first && second);
    EXPECT_GT(*second, *first);
    EXPECT_EQ(document.findRow("Ping", second, ufcs::SearchDirection::Backward), first);

    // The slipping pair has findings; every faulty row the navigation stops at carries one.
    ASSERT_GT(document.report().findingCount(), 0u);
    EXPECT_NE(
        document.timingSummary().find("共 " + std::to_string(document.report().findingCount()) +
                                      " 处时序问题（ACK 限 10 ms"),
        std::string::npos)
        << document.timingSummary();
    const auto faulty = document.faultyRow(std::nullopt, ufcs::SearchDirection::Forward);
    ASSERT_TRUE(faulty);
    EXPECT_EQ(document.statusText().find("列表中没有"), std::string::npos);

    // A capture without a fault: nothing to go to, and the note says so.
    auto clean = ufcs::CaptureStore::create();
    analyzer::CaptureDocument quiet(*clean, {});
    quiet.captureStarting();
    analyzer::CaptureFeed feed(*clean, {});
    simulator::BusTraffic traffic({9, 0.0});
    for (int i = 0; i < 40; ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));
    quiet.list().appendNew();
    EXPECT_FALSE(quiet.faultyRow(std::nullopt, ufcs::SearchDirection::Forward));
    EXPECT_NE(quiet.statusText().find("列表中没有出错或有时序问题的行"), std::string::npos);
}

TEST_F(CaptureDocumentTest, ExportWritesTheListedRowsAndCountsThemAsTheStatusLineDoes) {
    capture(100);
    const struct {
        ufcs::RowExportFormat format;
        const char* name;
    } exports[] = {{ufcs::RowExportFormat::CsvUtf8, "rows.csv"},
                   {ufcs::RowExportFormat::CsvGbk, "rows-gbk.csv"},
                   {ufcs::RowExportFormat::Text, "rows.txt"}};
    for (const auto& e : exports) {
        ASSERT_TRUE(document.exportRows(file(e.name), e.format).ok) << e.name;
        std::ifstream in(file(e.name));
        std::size_t lines = 0;
        for (std::string line; std::getline(in, line);)
            ++lines;
        EXPECT_EQ(lines, document.list().rowCount() + 1) << e.name;  // a title line first
        EXPECT_NE(
            document.statusText().find("已导出 " + std::to_string(document.capturedRecords()) +
                                       " 行到 " + file(e.name)),
            std::string::npos)
            << document.statusText();
    }
    const common::FileResult refused =
        document.exportRows(file("none/rows.csv"), ufcs::RowExportFormat::CsvUtf8);
    EXPECT_FALSE(refused.ok);
    EXPECT_FALSE(refused.message.empty());
}

}  // namespace
