#include "ufcs/capture_list.h"

namespace ufcs {

void CaptureList::listRecord(uint32_t index, ListFilter::Pass pass) {
    CaptureRecord record = store_.record(index);
    if (!filter_.passes(record, pass)) return;
    markListRecord(record);
    if (auto ranges = headerDeviceRanges(record)) deviceRanges_ = ranges;
    rows_.push_back(index);
}

std::size_t CaptureList::appendNew() {
    if (frozen_) return 0;
    const std::size_t before = rows_.size();
    const uint32_t count = store_.count();
    for (; nextRecord_ < count; ++nextRecord_) listRecord(nextRecord_, ListFilter::Pass::Intake);
    return rows_.size() - before;
}

void CaptureList::rebuild() {
    rows_.clear();
    const uint32_t count = store_.count();
    for (uint32_t index = 0; index < count; ++index) listRecord(index, ListFilter::Pass::Rebuild);
    nextRecord_ = count;
    frozen_ = false;
}

void CaptureList::clear() {
    rows_.clear();
    nextRecord_ = 0;
}

bool CaptureList::setFilter(const ListFilter& filter) {
    if (filter == filter_) return false;
    filter_ = filter;
    return true;
}

}  // namespace ufcs
