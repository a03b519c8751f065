#include "plot/sampled_series.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

namespace {

plot::SampleRange rangeOfSamples(const plot::SampledSeries& series, uint32_t first, uint32_t last) {
    plot::SampleRange expected;
    for (uint32_t i = first; i < last; ++i)
        expected.take(series.at(i));
    return expected;
}

// Ranges at random places and lengths agree with the samples themselves.
void expectRangesMatchSamples(const plot::SampledSeries& series, std::mt19937& random) {
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t first = random() % series.count();
        const uint32_t last = first + 1 + random() % (series.count() - first);
        const plot::SampleRange expected = rangeOfSamples(series, first, last);
        const plot::SampleRange got = series.range(first, last);
        ASSERT_EQ(got.minimum, expected.minimum) << first << ".." << last;
        ASSERT_EQ(got.maximum, expected.maximum) << first << ".." << last;
    }
}

TEST(SampledSeries, RangesMatchTheSamplesHoweverTheyCameAndStaySmall) {
    std::mt19937 random(3);
    std::vector<uint16_t> samples(300'001);
    for (uint16_t& sample : samples)
        sample = static_cast<uint16_t>(random());
    plot::SampledSeries oneByOne, inBlocks;
    for (const uint16_t sample : samples)
        ASSERT_TRUE(oneByOne.append(sample));
    // A loader's blocks of odd sizes, none aligned to a summary block.
    for (std::size_t at = 0; at < samples.size();) {
        const auto taken = static_cast<uint32_t>(std::min<std::size_t>(7'777, samples.size() - at));
        ASSERT_TRUE(inBlocks.appendBlock(samples.data() + at, taken));
        at += taken;
    }
    for (const plot::SampledSeries* series : {&oneByOne, &inBlocks}) {
        ASSERT_EQ(series->count(), samples.size());
        expectRangesMatchSamples(*series, random);
        const plot::SampleRange whole = series->range(0, series->count());
        EXPECT_EQ(whole.minimum, rangeOfSamples(*series, 0, series->count()).minimum);
    }
    std::vector<uint16_t> copied(70'000);
    inBlocks.copy(65'000, 70'000, copied.data());  // across a chunk boundary
    EXPECT_EQ(copied.front(), samples[65'000]);
    EXPECT_EQ(copied.back(), samples[134'999]);
}

// The summaries cost about an eighth of the samples' own memory (a few
// whole chunks more while the series is short).
TEST(SampledSeries, SummariesStaySmall) {
    plot::SampledSeries series;
    const std::vector<uint16_t> samples(4u << 20, 7);
    ASSERT_TRUE(series.appendBlock(samples.data(), static_cast<uint32_t>(samples.size())));
    const std::size_t sampleBytes = samples.size() * sizeof(uint16_t);
    EXPECT_GT(series.summaryBytes(), sampleBytes / 16);  // it does summarise
    EXPECT_LT(series.summaryBytes(), sampleBytes / 4);
}

// The window reads while the sampler appends: every sample below the count is
// complete, and every range over them is right, summarised yet or not.
TEST(SampledSeries, ReadersSeeCompleteSamplesAndRangesWhileOneThreadAppends) {
    plot::SampledSeries series;
    constexpr uint32_t kSamples = 300'000;  // several chunks
    auto valueAt = [](uint32_t i) { return static_cast<uint16_t>((i * 7919u) % 65'521u); };
    std::thread writer([&] {
        for (uint32_t i = 0; i < kSamples; ++i)
            ASSERT_TRUE(series.append(valueAt(i)));
    });
    uint32_t seen = 0;
    std::mt19937 random(5);
    while (seen < kSamples) {
        const uint32_t count = series.count();
        for (uint32_t i = seen; i < count; ++i)
            ASSERT_EQ(series.at(i), valueAt(i)) << i;
        if (count > 0) {
            const uint32_t first = random() % count;
            const plot::SampleRange got = series.range(first, count);
            plot::SampleRange expected;
            for (uint32_t i = first; i < count; ++i)
                expected.take(valueAt(i));
            ASSERT_EQ(got.minimum, expected.minimum);
            ASSERT_EQ(got.maximum, expected.maximum);
        }
        seen = count;
    }
    writer.join();
    EXPECT_EQ(series.extremes().maximum, 65'520);
}

TEST(SampledSeries, ClearAndSwapTakeTheSummariesAlong) {
    plot::SampledSeries a, b;
    for (uint32_t i = 0; i < 10'000; ++i)
        a.append(static_cast<uint16_t>(i));
    for (uint32_t i = 0; i < 64; ++i)
        b.append(500);
    a.swap(b);
    EXPECT_EQ(a.count(), 64u);
    EXPECT_EQ(a.range(0, 64).maximum, 500);
    EXPECT_EQ(b.range(0, 10'000).maximum, 9'999);
    EXPECT_EQ(b.range(1'024, 2'048).minimum, 1'024);
    b.clear();
    EXPECT_EQ(b.count(), 0u);
    EXPECT_EQ(b.summaryBytes(), 0u);
    for (uint32_t i = 0; i < 100; ++i)
        b.append(static_cast<uint16_t>(1'000 - i));
    EXPECT_EQ(b.range(0, 100).minimum, 901);  // nothing of the old summaries remains
    EXPECT_EQ(b.range(0, 64).maximum, 1'000);
}

}  // namespace
