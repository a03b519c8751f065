#include "analyzer/capture_document.h"

#include "common/file_save.h"
#include "common/format.h"
#include "logic/capture_import.h"
#include "ufcs/capture_file.h"
#include "ufcs/list_row.h"

namespace analyzer {
CaptureDocument::CaptureDocument(ufcs::CaptureStore& store, ufcs::SequenceWindows windows)
    : store_(store), list_(store), checker_(windows) {}

void CaptureDocument::captureStarting() {
    changed_ = true;
    openFile_.clear();
    note_.clear();
    dropRecordRange();
    restartChecks();
    tell(&CaptureDocumentObserver::onCaptureCleared);
}

void CaptureDocument::cutBack() {
    dropRecordRange();
    restartChecks();
    tell(&CaptureDocumentObserver::onCaptureCleared);
}

void CaptureDocument::recordsAdded(uint32_t count) {
    for (CaptureDocumentObserver* observer : observers_)
        observer->onRecordsArrived(count);
}

// A range of records belongs to the capture it was chosen in.
void CaptureDocument::dropRecordRange() {
    if (!list_.filter().records) return;
    ufcs::ListFilter filter = list_.filter();
    filter.records.reset();
    list_.setFilter(filter);
}

// A new capture, a cut-back one or an opened file: the store may still hold
// the old records, so the next look starts afresh from record 0.
void CaptureDocument::restartChecks() {
    checker_.reset();
    tell(&CaptureDocumentObserver::onStatusChanged);
}

void CaptureDocument::refreshChecks() {
    checker_.catchUp(store_);
    tell(&CaptureDocumentObserver::onStatusChanged);
}

uint32_t CaptureDocument::capturedRecords() const {
    const uint32_t count = store_.count();
    return count > 0 ? count - 1 : 0;
}

void CaptureDocument::setOpenFile(const std::filesystem::path& path) {
    openFile_ = path;
    note_.clear();
}

void CaptureDocument::setNote(std::string note) {
    note_ = std::move(note);
    tell(&CaptureDocumentObserver::onStatusChanged);
}

common::FileResult CaptureDocument::save(const std::filesystem::path& path,
                                         const common::SaveControl& control) {
    const common::FileResult result = ufcs::SaveCapture(store_, path, control);
    if (!result.ok) return {false, ufcs::SaveCaptureToFallback(store_, result.message).message};
    changed_ = false;
    setOpenFile(path);
    tell(&CaptureDocumentObserver::onCaptureSaved);
    setNote(common::format("已保存 %u 条记录到 %s", capturedRecords(),
                           common::displayPath(path).c_str()));
    return result;
}

common::FileResult CaptureDocument::open(const std::filesystem::path& path) {
    const common::FileResult result = ufcs::OpenCapture(store_, path);
    if (result.ok) opened(path, {});
    return result;
}

common::FileResult CaptureDocument::openLogic(const std::filesystem::path& path,
                                              const logic::LogicRecording& recording,
                                              const logic::LineChooser& chooseLines) {
    const logic::CaptureImport imported = logic::importLoaded(
        recording, common::displayPath(path.filename()), store_, {}, chooseLines);
    if (imported.ok) opened(path, imported.findings);
    return {imported.ok, imported.message};
}

void CaptureDocument::opened(const std::filesystem::path& path,
                             const std::vector<ufcs::SequenceNote>& lineFindings) {
    changed_ = false;
    setOpenFile(path);
    dropRecordRange();
    restartChecks();
    // What the lines of a logic recording showed stays with the records it came with.
    checker_.addLineNotes(lineFindings);
    tell(&CaptureDocumentObserver::onCaptureOpened);
}

common::FileResult CaptureDocument::exportRows(const std::filesystem::path& path,
                                               ufcs::RowExportFormat format) {
    const common::FileResult result = ufcs::saveRows(list_, format, path);
    if (!result.ok) return result;
    // Counted as the status line counts: the capture's header row is not a record.
    std::size_t rows = list_.rowCount();
    if (rows > 0 && list_.recordAt(0) == 0) --rows;
    setNote(common::format("已导出 %llu 行到 %s", static_cast<unsigned long long>(rows),
                           common::displayPath(path).c_str()));
    return result;
}

std::optional<std::size_t> CaptureDocument::findRow(std::string_view text,
                                                    std::optional<std::size_t> from,
                                                    ufcs::SearchDirection direction) {
    const std::optional<std::size_t> row =
        ufcs::findRowWithText(list_, from, direction, std::string(text), &checker_.report());
    if (row)
        setNote({});
    else if (!text.empty())
        setNote(common::format("找不到“%s”", std::string(text).c_str()));
    else
        tell(&CaptureDocumentObserver::onStatusChanged);
    return row;
}

std::optional<std::size_t> CaptureDocument::faultyRow(std::optional<std::size_t> from,
                                                      ufcs::SearchDirection direction) {
    checker_.catchUp(store_);
    const std::optional<std::size_t> row =
        ufcs::findFaultyRow(list_, from, direction, checker_.report());
    setNote(row ? std::string() : std::string("列表中没有出错或有时序问题的行"));
    return row;
}

const ufcs::SequenceReport& CaptureDocument::report() {
    refreshChecks();
    return checker_.report();
}

std::string CaptureDocument::timingSummary() {
    const ufcs::SequenceReport& findings = report();
    const ufcs::SequenceWindows& windows = checker_.windows();
    const std::string powerReady =
        windows.powerReadyUs
            ? common::format("%g ms", *windows.powerReadyUs / 1000.0)
            : common::format(
                  "%g/%g/%g ms（请求电压 ≤11/≤20/≤30 V）",
                  ufcs::standardLimit(ufcs::LimitId::PowerReady11V).microseconds / 1000.0,
                  ufcs::standardLimit(ufcs::LimitId::PowerReady20V).microseconds / 1000.0,
                  ufcs::standardLimit(ufcs::LimitId::PowerReady30V).microseconds / 1000.0);
    return common::format(
        "共 %llu 处时序问题（ACK 限 %g ms，回答限 %g ms，Power_Ready 限 %s、不超过 %g ms，"
        "同一方两条消息间隔至少 %g ms）",
        static_cast<unsigned long long>(findings.findingCount()), windows.ackUs / 1000.0,
        windows.answerUs / 1000.0, powerReady.c_str(), windows.powerSupplyUs / 1000.0,
        windows.messageGapUs / 1000.0);
}

std::string CaptureDocument::statusText() const {
    const uint32_t count = store_.count();
    std::string text = common::format("记录 %u 条", capturedRecords());
    if (count > 2) {
        const int64_t span = store_.record(count - 1).timeUs() - store_.record(1).timeUs();
        text += "    时长 " + ufcs::durationText(span);
    }
    if (!openFile_.empty()) text += "    文件 " + common::displayPath(openFile_.filename());
    text += common::format("    时序问题 %llu 处",
                           static_cast<unsigned long long>(checker_.findingCount()));
    if (const std::string filtered = ufcs::filterStatusText(list_.filter()); !filtered.empty())
        text += "    " + filtered;
    if (!note_.empty()) text += "    " + note_;
    return text;
}

}  // namespace analyzer
