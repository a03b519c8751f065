// The sample channels, .osa files and CSV export.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/byte_order.h"
#include "recorder/csv_export.h"
#include "recorder/osa_file.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;
using recorder::SampleDocument;

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class RecorderFiles : public ::testing::Test {
  protected:
    fs::path file(const char* name) const { return folder.path() / name; }
    void fill(SampleDocument& document, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i)
            document.appendSample(static_cast<uint16_t>(5000 + i % 50000),
                                  static_cast<uint16_t>(i % 3000), {true, false, true});
    }
    testing_support::TestFolder folder{"recorder_files_test"};
};

TEST(SampleDocument, DisplayedCountHidesTheNewestTwo) {
    SampleDocument document;
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 0}, {4, 0}, {5, 3}, {100, 98}};
    for (const auto& [stored, shown] : cases) {
        document.reset();
        for (uint32_t i = 0; i < stored; ++i)
            document.channel(0).append(1);
        EXPECT_EQ(document.displayedCount(), shown) << stored;
    }
    EXPECT_EQ(recorder::displayNameOf("/a/b/test.2024.osa"), "test");
}

TEST_F(RecorderFiles, ANewDocumentSavesAs186BytesOfTheLayout) {
    SampleDocument document;
    ASSERT_TRUE(recorder::saveOsa(document, file("new.osa")).ok);
    const std::vector<uint8_t> bytes = readAll(file("new.osa"));
    ASSERT_EQ(bytes.size(), 186u);
    EXPECT_EQ(common::readLe32(bytes.data()), 220u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.begin() + 12),
              (std::vector<uint8_t>{0x54, 0x61, 0x72, 0x73, 0x65, 0x6C, 0xB5, 0xE7}));
    EXPECT_EQ(common::readLe32(bytes.data() + 12), 1u);
    EXPECT_EQ(common::readLe64(bytes.data() + 16), 0x3FB999999999999Au);  // 0.1
    EXPECT_EQ(common::readLe16(bytes.data() + 24), 1u);
    for (int c = 0; c < 8; ++c) {
        const uint8_t* header = bytes.data() + 26 + 20 * c;
        EXPECT_EQ(common::readLe32(header), 0u);
        EXPECT_EQ(common::readLe32(header + 4), (c == 2 || c == 3) ? 1u : 0u) << c;
        EXPECT_EQ(common::readLe32(header + 8), c == 3 ? 10000u : 2147483647u) << c;
        EXPECT_EQ(common::readLe64(header + 12), 0u);
    }
    EXPECT_EQ(document.displayName, "new");
}

TEST_F(RecorderFiles, SamplesRoundTripAndChannelThreeIsClamped) {
    SampleDocument document;
    fill(document, 70'000);
    document.channel(3).setExtremes({-20000, 20000});
    document.currentCalibrated = 0;
    ASSERT_TRUE(recorder::saveOsa(document, file("t.osa")).ok);
    EXPECT_FALSE(document.modified);
    EXPECT_EQ(fs::file_size(file("t.osa")), 186u + 2 * 140'000);

    const recorder::OsaLoad load = recorder::loadOsa(file("t.osa"));
    ASSERT_TRUE(load.document) << load.message;
    const SampleDocument& loaded = *load.document;
    EXPECT_EQ(loaded.channel(0).count(), 70'000u);
    EXPECT_EQ(loaded.channel(0).at(69'999), 5000 + 19'999);
    EXPECT_EQ(loaded.channel(2).at(3001), 1);
    EXPECT_EQ(loaded.channel(0).sum(), document.channel(0).sum());
    EXPECT_EQ(loaded.channel(0).extremes().minimum, 5000);
    EXPECT_EQ(loaded.currentCalibrated, 0);
    EXPECT_EQ(loaded.channel(3).extremes().maximum, -10000);
    EXPECT_EQ(loaded.channel(3).extremes().minimum, 10000);
    EXPECT_EQ(load.header.extremes[3].maximum, -20000);  // as stored
    // The loader summarised what the view draws from, and says what that took.
    plot::SampleRange expected;
    for (uint32_t i = 100; i < 69'000; ++i)
        expected.take(loaded.channel(0).at(i));
    EXPECT_EQ(loaded.channel(0).range(100, 69'000).maximum, expected.maximum);
    EXPECT_EQ(loaded.channel(0).range(100, 69'000).minimum, expected.minimum);
    EXPECT_GT(load.summaryTime.count(), 0);

    // Its progress runs up to every sample of the file; false cancels it.
    std::vector<uint64_t> reported;
    const recorder::OsaLoad whole =
        recorder::loadOsa(file("t.osa"), [&](uint64_t read, uint64_t all) {
            EXPECT_EQ(all, 140'000u);
            reported.push_back(read);
            return true;
        });
    ASSERT_TRUE(whole.document);
    ASSERT_FALSE(reported.empty());
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_EQ(reported.back(), 140'000u);
    const recorder::OsaLoad cancelled =
        recorder::loadOsa(file("t.osa"), [](uint64_t read, uint64_t) { return read < 65'536; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.document);
    EXPECT_TRUE(cancelled.message.empty());
}

// A part of a test is a test of its own: its samples, sums and extremes, the period and
// calibration of the whole, and it saves and opens as any other.
TEST_F(RecorderFiles, APartOfATestIsATestOfItsOwn) {
    SampleDocument whole;
    fill(whole, 100'000);  // more than one block of the copy
    whole.currentCalibrated = 0;
    const struct {
        recorder::SampleSpan span;
        uint32_t first, count;
    } cases[] = {
        {{10, 51}, 10, 41},
        {{0, 100'000}, 0, 100'000},
        {{99'990, UINT32_MAX}, 99'990, 10},  // a line beyond the last sample
        {{3, 4}, 3, 1},
    };
    for (const auto& c : cases) {
        const auto part = recorder::documentPart(whole, c.span);
        ASSERT_TRUE(part) << c.first;
        EXPECT_TRUE(part->modified);
        EXPECT_EQ(part->currentCalibrated, 0);
        for (const int channel : {recorder::kVoltageChannel, recorder::kCurrentChannel}) {
            const plot::SampledSeries& series = part->channel(channel);
            ASSERT_EQ(series.count(), c.count) << c.first;
            double sum = 0;
            plot::SampleRange range;
            for (uint32_t i = 0; i < c.count; ++i) {
                ASSERT_EQ(series.at(i), whole.channel(channel).at(c.first + i));
                sum += series.at(i);
                range.take(series.at(i));
            }
            EXPECT_EQ(series.sum(), sum);
            EXPECT_EQ(series.extremes().maximum, std::max<int32_t>(range.maximum, channel == 2));
            EXPECT_EQ(series.extremes().minimum, range.minimum);
        }
        EXPECT_EQ(part->channel(1).count(), 0u);
    }
    EXPECT_FALSE(recorder::documentPart(whole, {100'000, 100'010}));  // after the test
    EXPECT_FALSE(recorder::documentPart(whole, {5, 5}));

    const auto part = recorder::documentPart(whole, {1000, 2000});
    ASSERT_TRUE(recorder::writeOsa(*part, file("part.osa")).ok);
    const recorder::OsaLoad load = recorder::loadOsa(file("part.osa"));
    ASSERT_TRUE(load.document) << load.message;
    EXPECT_EQ(load.document->channel(0).count(), 1000u);
    EXPECT_EQ(load.document->channel(2).at(0), whole.channel(2).at(1000));
    EXPECT_EQ(load.document->channel(0).sum(), part->channel(0).sum());
}

TEST_F(RecorderFiles, DamagedFilesAreRefusedWithTheirName) {
    SampleDocument document;
    fill(document, 10);
    ASSERT_TRUE(recorder::saveOsa(document, file("good.osa")).ok);
    std::vector<uint8_t> bytes = readAll(file("good.osa"));
    std::vector<uint8_t> forged = bytes;
    common::writeLe32(forged.data() + 26 + 40, 0xFFFFFFFF);  // channel 2 claims 4 billion samples
    writeAll(file("forged.osa"), forged);
    writeAll(file("short.osa"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100));
    std::vector<uint8_t> badPeriod = bytes;
    common::writeLe64(badPeriod.data() + 16, 0);
    writeAll(file("period.osa"), badPeriod);
    fs::create_directory(file("folder.osa"));
    const struct {
        const char* name;
        const char* says;
    } cases[] = {{"forged.osa", "超出了文件长度"},
                 {"short.osa", "不完整或不是测试文件"},
                 {"period.osa", "采样周期无效"},
                 {"folder.osa", "无法打开文件"},
                 {"missing.osa", "无法打开文件"}};
    for (const auto& c : cases) {
        const recorder::OsaLoad load = recorder::loadOsa(file(c.name));
        EXPECT_FALSE(load.document) << c.name;
        EXPECT_NE(load.message.find(c.says), std::string::npos) << load.message;
        EXPECT_NE(load.message.find(c.name), std::string::npos) << load.message;
    }
    // Longer than its counts need: the trailing bytes are not read.
    bytes.push_back(0);
    writeAll(file("long.osa"), bytes);
    EXPECT_TRUE(recorder::loadOsa(file("long.osa")).document);
}

TEST(CsvExport, RowsTimesAndValuesAreAsPrintfWritesThem) {
    const std::tuple<uint64_t, int, uint64_t> counts[] = {{0, 1, 0},
                                                          {25, 1, 3},
                                                          {6001, 600, 2},
                                                          {10'000'000, 1, 1'000'000},
                                                          {10'000'001, 1, 1'000'001}};
    for (const auto& [samples, period, rows] : counts)
        EXPECT_EQ(recorder::csvRowCount(samples, period), rows) << samples << " / " << period;

    recorder::CsvOptions volts;
    recorder::CsvOptions milli{1, true, true, true, false, false};
    char row[recorder::kMostCsvRowBytes];
    auto text = [&](uint64_t seconds, uint16_t mv, uint16_t ma, const recorder::CsvOptions& o) {
        return std::string(row, recorder::formatCsvRow(row, seconds, recorder::csvValues(mv, ma, o),
                                                       o.milliwatts));
    };
    EXPECT_EQ(text(65, 5000, 1500, volts), "0:01:05,5.000,1.500,7.500\r\n");
    EXPECT_EQ(text(3725, 5000, 1500, milli), "1:02:05,5000.000,1500.000,7500\r\n");
    EXPECT_EQ(text(360'000, 1, 1, volts), "100:00:00,0.001,0.001,0.000\r\n");

    // Every unit combination against printf itself, on values with ties and rounding.
    for (int units = 0; units < 8; ++units) {
        const recorder::CsvOptions o{
            1, (units & 1) != 0, (units & 2) != 0, (units & 4) != 0, false, false};
        for (uint32_t mv = 0;; mv = std::min(mv + 251, 65535u)) {
            for (uint32_t ma : {0u, 1u, 3u, 125u, 500u, 1499u, 2047u, 33333u, 65535u}) {
                const recorder::CsvValues v = recorder::csvValues(uint16_t(mv), uint16_t(ma), o);
                char expected[128];
                std::snprintf(
                    expected, sizeof expected,
                    o.milliwatts ? "0:00:07,%.3f,%.3f,%.0f\r\n" : "0:00:07,%.3f,%.3f,%.3f\r\n",
                    v.volts, v.amps, v.power);
                ASSERT_EQ(text(7, uint16_t(mv), uint16_t(ma), o), expected)
                    << units << " " << mv << " " << ma;
            }
            if (mv == 65535) break;
        }
    }
}

// Which samples become rows: every one, or one a period from the first whole
// second, of the whole test or of the part between the zone lines.
TEST(CsvExport, RowsOfAPartOfATestAndOfEverySample) {
    struct Case {
        const char* name;
        uint32_t samples;
        bool everySample;
        int period;
        recorder::SampleSpan span;
        uint64_t first, count;
    };
    const Case cases[] = {
        {"whole test, 1 s", 25, false, 1, {}, 0, 3},
        {"whole test, every sample", 25, true, 1, {}, 0, 25},
        {"a part from a whole second", 100, false, 1, {20, 41}, 20, 3},
        {"a part from 1.2 s starts at 2 s", 100, false, 1, {12, 41}, 20, 3},
        {"a part of every sample", 100, true, 1, {12, 15}, 12, 3},
        {"a part beyond the test", 30, true, 1, {25, 60}, 25, 5},
        {"a part after the test", 30, false, 1, {40, 60}, 40, 0},
        {"a part too short for a whole second", 100, false, 1, {11, 19}, 20, 0},
    };
    for (const Case& c : cases) {
        recorder::CsvOptions options;
        options.everySample = c.everySample;
        options.periodSeconds = c.period;
        const recorder::CsvRows rows = recorder::csvRows(c.samples, options, c.span);
        EXPECT_EQ(rows.count, c.count) << c.name;
        if (rows.count) {
            EXPECT_EQ(rows.first, c.first) << c.name;
        }
    }
    char row[recorder::kMostCsvRowBytes];
    const std::size_t length =
        recorder::formatCsvRow(row, 3725, recorder::csvValues(5000, 1500, {}), false, 4);
    EXPECT_EQ(std::string(row, length), "1:02:05.4,5.000,1.500,7.500\r\n");
}

TEST_F(RecorderFiles, CsvFilesHaveTheirHeaderAndNothingOnRefusal) {
    SampleDocument document;
    fill(document, 25);
    ASSERT_TRUE(
        recorder::exportCsv(document.channel(0), document.channel(2), {}, file("a.csv")).ok);
    const std::vector<uint8_t> gbk = readAll(file("a.csv"));
    const std::string text(gbk.begin(), gbk.end());
    EXPECT_TRUE(
        text.starts_with("\xCA\xB1\xBC\xE4(1s),\xB5\xE7\xD1\xB9(V),\xB5\xE7\xC1\xF7(A),"
                         "\xB9\xA6\xC2\xCA(W)\r\n0:00:00,5.000,0.000,0.000\r\n"
                         "0:00:01,5.010,0.010,0.050\r\n0:00:02,5.020,0.020,0.100\r\n"))
        << text;
    recorder::CsvOptions utf8;
    utf8.utf8 = true;
    utf8.millivolts = true;
    ASSERT_TRUE(
        recorder::exportCsv(document.channel(0), document.channel(2), utf8, file("u.csv")).ok);
    const std::vector<uint8_t> bytes = readAll(file("u.csv"));
    EXPECT_TRUE(
        std::string(bytes.begin(), bytes.end()).starts_with("\xEF\xBB\xBF时间(1s),电压(mV),"));

    plot::SampledSeries many;
    std::vector<uint16_t> block(10'000'001, 1);
    ASSERT_TRUE(many.appendBlock(block.data(), static_cast<uint32_t>(block.size())));
    const common::FileResult refused = recorder::exportCsv(many, many, {}, file("big.csv"));
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.message, recorder::kTooManyCsvRows);
    EXPECT_FALSE(fs::exists(file("big.csv")));
    const common::FileResult noFolder =
        recorder::exportCsv(document.channel(0), document.channel(2), {}, file("none/a.csv"));
    EXPECT_TRUE(noFolder.message.starts_with(recorder::kCsvCannotCreate));
}

}  // namespace
