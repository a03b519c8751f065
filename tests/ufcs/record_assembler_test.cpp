#include <gtest/gtest.h>

#include "store_fixture.h"
#include "ufcs/record_assembler.h"

namespace {

using testing_support::makePage;
using Result = ufcs::RecordAssembler::Result;

class RecordAssemblerTest : public testing_support::StoreTest {
  protected:
    ufcs::RecordAssembler assembler;
};

TEST_F(RecordAssemblerTest, OnePageRecordCopiesOnlyItsPage) {
    fillSlot(1, 0xCC);
    EXPECT_EQ(assembler.addPage(makePage(0x11, 1).data(), *store), Result::Completed);
    EXPECT_TRUE(assembler.idle());
    EXPECT_EQ(slot(1)[0], ufcs::kFirstPageMarker);
    EXPECT_EQ(slot(1)[63], 0x11);
    for (std::size_t i = 64; i < ufcs::kRecordSize; ++i)
        ASSERT_EQ(slot(1)[i], 0xCC) << i;
    EXPECT_EQ(store->count(), 1u);  // publishing the record is the intake's job
}

TEST_F(RecordAssemblerTest, ShorterRecordCarriesPagesLeftByEarlierOnes) {
    ASSERT_EQ(assembler.addPage(makePage(0x50, 5).data(), *store), Result::Pending);
    for (uint8_t page = 1; page < 4; ++page) {
        ASSERT_EQ(assembler.addPage(makePage(0x50 + page).data(), *store), Result::Pending);
    }
    ASSERT_EQ(assembler.addPage(makePage(0x54).data(), *store), Result::Completed);
    EXPECT_EQ(slot(1)[4 * 64], 0x54);

    ASSERT_EQ(assembler.addPage(makePage(0x60, 2).data(), *store), Result::Pending);
    ASSERT_EQ(assembler.addPage(makePage(0x61).data(), *store), Result::Completed);
    // Still slot 1: nothing published the first record.
    EXPECT_EQ(slot(1)[1], 2);
    EXPECT_EQ(slot(1)[64], 0x61);
    EXPECT_EQ(slot(1)[2 * 64], 0x52);  // pages 3-5 as the five-page record left them
    EXPECT_EQ(slot(1)[3 * 64], 0x53);
    EXPECT_EQ(slot(1)[4 * 64 + 63], 0x54);
}

TEST_F(RecordAssemblerTest, ContinuationPageTakesAnyBytes) {
    ASSERT_EQ(assembler.addPage(makePage(0x70, 2).data(), *store), Result::Pending);
    // Looks like a first page, but a record is being assembled.
    EXPECT_EQ(assembler.addPage(makePage(0x01, 1).data(), *store), Result::Completed);
    EXPECT_EQ(slot(1)[64], 0x01);
    EXPECT_EQ(slot(1)[65], 1);
}

TEST_F(RecordAssemblerTest, PageWithoutFirstPageLeavesTheStoreAlone) {
    store->setCount(40);
    const std::vector<uint8_t> before(slot(40), slot(40) + ufcs::kRecordSize);
    EXPECT_EQ(assembler.addPage(makePage(0x02).data(), *store), Result::LostStep);
    // Only the store's owner cuts a capture back, once nobody reads it.
    EXPECT_EQ(store->count(), 40u);
    EXPECT_EQ(std::vector<uint8_t>(slot(40), slot(40) + ufcs::kRecordSize), before);
    EXPECT_TRUE(assembler.idle());
    EXPECT_EQ(assembler.addPage(makePage(0x33, 1).data(), *store), Result::Completed);
    EXPECT_EQ(slot(40)[5], 0x33);
}

TEST_F(RecordAssemblerTest, FirstPageWithImpossiblePageCountIsALostStep) {
    for (int pages : {0, 6, 255}) {
        store->setCount(9);
        EXPECT_EQ(assembler.addPage(makePage(0x44, pages).data(), *store), Result::LostStep)
            << pages;
        EXPECT_EQ(store->count(), 9u);
        EXPECT_TRUE(assembler.idle());
    }
}

TEST_F(RecordAssemblerTest, ResetForgetsAHalfAssembledRecord) {
    ASSERT_EQ(assembler.addPage(makePage(0x70, 3).data(), *store), Result::Pending);
    assembler.reset();
    EXPECT_EQ(assembler.addPage(makePage(0x71).data(), *store), Result::LostStep);
}

TEST_F(RecordAssemblerTest, FullStoreIsNeverWrittenPast) {
    store->setCount(ufcs::CaptureStore::kCapacity);
    EXPECT_EQ(assembler.addPage(makePage(0x10, 1).data(), *store), Result::NoRoom);
    EXPECT_EQ(store->count(), ufcs::CaptureStore::kCapacity);
    EXPECT_TRUE(assembler.idle());
}

}  // namespace
