#pragma once
// The message list's contents: which records have a row, in order. Rows are
// record indices; their texts are made from the record when asked for.
// Runs on the window thread; the worker only appends to the store.

#include <cstdint>
#include <optional>
#include <vector>

#include "ufcs/capture_store.h"
#include "ufcs/list_filter.h"
#include "ufcs/list_row.h"

namespace ufcs {

class CaptureList {
  public:
    explicit CaptureList(CaptureStore& store) : store_(store) {}

    // Lists the records the store gained since the last look (none while
    // frozen). Returns the number of rows added at the end.
    std::size_t appendNew();
    // The same in two steps, for views that must be told the row count before
    // the rows change: stage the new rows (counted and returned), then add them.
    std::size_t stageNew();
    void commitStaged();
    // Lists every record of the store that passes the filter, from scratch,
    // and unfreezes the list.
    void rebuild();
    // No rows; the next look starts again from record 0 (a new capture, or a capture cut back).
    void clear();
    // Holds back new rows until the next rebuild (a filter change or an opened file is pending).
    void freeze() { frozen_ = true; }
    bool frozen() const { return frozen_; }

    // Replaces the filter; true when any box changed (the caller then freezes and rebuilds).
    bool setFilter(const ListFilter& filter);
    const ListFilter& filter() const { return filter_; }

    std::size_t rowCount() const { return rows_.size(); }
    uint32_t recordAt(std::size_t row) const { return rows_[row]; }
    const std::vector<uint32_t>& rows() const { return rows_; }
    ListRow rowTexts(std::size_t row) const { return recordTexts(rows_[row]); }
    // A record's row texts, its time counted from the list's time origin.
    ListRow recordTexts(uint32_t record) const;

    // The time column counts the instrument's uptime, as the time stamps do, or the
    // time since the capture's first record.
    enum class TimeOrigin { InstrumentUptime, CaptureStart };
    void setTimeOrigin(TimeOrigin origin) { timeOrigin_ = origin; }
    TimeOrigin timeOrigin() const { return timeOrigin_; }
    // What the listed times count from, in the time stamps' microseconds: 0 for the
    // uptime, else the first record's time stamp.
    int64_t timeOriginUs() const;
    uint32_t nextRecord() const { return nextRecord_; }
    const CaptureStore& store() const { return store_; }

    // The device values restored by the last header row listed.
    std::optional<DeviceRanges> deviceRanges() const { return deviceRanges_; }

  private:
    bool listRecord(uint32_t index, ListFilter::Pass pass);

    CaptureStore& store_;
    ListFilter filter_;
    std::vector<uint32_t> rows_;
    std::vector<uint32_t> staged_;
    uint32_t nextRecord_ = 0;
    bool frozen_ = false;
    TimeOrigin timeOrigin_ = TimeOrigin::InstrumentUptime;
    std::optional<DeviceRanges> deviceRanges_;
};

}  // namespace ufcs
