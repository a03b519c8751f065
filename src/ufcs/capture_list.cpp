#include "ufcs/capture_list.h"

namespace ufcs {

ListRow CaptureList::recordTexts(uint32_t record) const {
    const ConstCaptureRecord at = store_.record(record);
    ListRow row = listRowTexts(at, record);
    if (timeOrigin_ == TimeOrigin::CaptureStart && !row.columns[6].empty())
        row.columns[6] = durationText(at.timeUs() - timeOriginUs());
    return row;
}

int64_t CaptureList::timeOriginUs() const {
    // Record 0 is the capture's header, which has no time of its own.
    if (timeOrigin_ == TimeOrigin::InstrumentUptime || store_.count() < 2) return 0;
    return store_.record(1).timeUs();
}

bool CaptureList::listRecord(uint32_t index, ListFilter::Pass pass) {
    if (!filter_.inRange(index)) return false;
    CaptureRecord record = store_.record(index);
    if (!filter_.passes(record, pass)) return false;
    markListRecord(record);
    if (auto ranges = headerDeviceRanges(record)) deviceRanges_ = ranges;
    return true;
}

std::size_t CaptureList::appendNew() {
    const std::size_t added = stageNew();
    commitStaged();
    return added;
}

std::size_t CaptureList::stageNew() {
    staged_.clear();
    if (frozen_) return 0;
    const uint32_t count = store_.count();
    for (; nextRecord_ < count; ++nextRecord_) {
        if (listRecord(nextRecord_, ListFilter::Pass::Intake)) staged_.push_back(nextRecord_);
    }
    return staged_.size();
}

void CaptureList::commitStaged() {
    rows_.insert(rows_.end(), staged_.begin(), staged_.end());
    staged_.clear();
}

void CaptureList::rebuild() {
    rows_.clear();
    const uint32_t count = store_.count();
    for (uint32_t index = 0; index < count; ++index) {
        if (listRecord(index, ListFilter::Pass::Rebuild)) rows_.push_back(index);
    }
    nextRecord_ = count;
    frozen_ = false;
}

void CaptureList::clear() {
    rows_.clear();
    staged_.clear();
    nextRecord_ = 0;
}

bool CaptureList::setFilter(const ListFilter& filter) {
    if (filter == filter_) return false;
    filter_ = filter;
    return true;
}

}  // namespace ufcs
