#pragma once
// The capture the analyzer shows, as one document: the store and its list
// (with the filters), the sequence checks, the file it came from or went to
// and whether it holds records nobody saved, find and the faulty-row
// navigation, the export of the listed rows, and the status line's facts.
// The window, the packet curve and the status line observe its events.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_save.h"
#include "logic/capture_import.h"
#include "ufcs/capture_list.h"
#include "ufcs/capture_store.h"
#include "ufcs/list_search.h"
#include "ufcs/row_export.h"
#include "ufcs/sequence_check.h"

namespace analyzer {

class CaptureDocumentObserver {
  public:
    virtual ~CaptureDocumentObserver() = default;
    // A capture starts, or the running one was cut back to its header: no rows.
    virtual void onCaptureCleared() {}
    // A file's records replaced the capture.
    virtual void onCaptureOpened() {}
    // The store holds `count` records now (a live capture).
    virtual void onRecordsArrived(uint32_t /*count*/) {}
    virtual void onCaptureSaved() {}
    // What the status line says has changed.
    virtual void onStatusChanged() {}
};

class CaptureDocument {
  public:
    CaptureDocument(ufcs::CaptureStore& store, ufcs::SequenceWindows windows);
    CaptureDocument(const CaptureDocument&) = delete;
    CaptureDocument& operator=(const CaptureDocument&) = delete;

    void addObserver(CaptureDocumentObserver& observer) { observers_.push_back(&observer); }

    ufcs::CaptureStore& store() { return store_; }
    ufcs::CaptureList& list() { return list_; }
    const ufcs::CaptureList& list() const { return list_; }

    // A live capture starts: its records are new, and belong to no file.
    void captureStarting();
    // The running capture was cut back to its header (a lost step).
    void cutBack();
    // The store gained records (`count` in all); the observers hear of it.
    void recordsAdded(uint32_t count);
    // The checks catch up with the store (the list has taken its new rows).
    void refreshChecks();

    // Records that were never saved (nor opened from a file).
    bool unsaved() const { return changed_ && store_.count() > 1; }
    // The records captured, without the capture's header record.
    uint32_t capturedRecords() const;
    const std::filesystem::path& openFile() const { return openFile_; }

    // Saves the capture; on failure the message also says where a copy went
    // (the user's data folder), and the capture stays unsaved.
    common::FileResult save(const std::filesystem::path& path, const common::SaveControl& control);
    // A capture file; a logic analyzer's recording comes through openLogic().
    common::FileResult open(const std::filesystem::path& path);
    // A recording already read from `path` (off the window thread). It asks
    // `chooseLines` for the lines when their names do not say; a cancel gives
    // a failure without a message.
    common::FileResult openLogic(const std::filesystem::path& path,
                                 const logic::LogicRecording& recording,
                                 const logic::LineChooser& chooseLines = {});
    // The listed rows, as the filters show them.
    common::FileResult exportRows(const std::filesystem::path& path, ufcs::RowExportFormat format);

    // The row after (or before) `from` that shows `text`; none leaves a note.
    std::optional<std::size_t> findRow(std::string_view text, std::optional<std::size_t> from,
                                       ufcs::SearchDirection direction);
    // The next row with an error or a sequence finding; none leaves a note.
    std::optional<std::size_t> faultyRow(std::optional<std::size_t> from,
                                         ufcs::SearchDirection direction);
    // The findings so far, caught up.
    const ufcs::SequenceReport& report();
    // "共 N 处时序问题（ACK 限 … ms，…）"
    std::string timingSummary();

    // "记录 N 条    时长 …    文件 NAME    时序问题 N 处    过滤：…    NOTE"
    std::string statusText() const;

    // A confirmation or a miss, shown after the counts until the next one.
    void setNote(std::string note);

  private:
    void setOpenFile(const std::filesystem::path& path);
    void restartChecks();
    void dropRecordRange();
    void opened(const std::filesystem::path& path,
                const std::vector<ufcs::SequenceNote>& lineFindings);
    template <typename Event>
    void tell(Event event) {
        for (CaptureDocumentObserver* observer : observers_)
            (observer->*event)();
    }

    ufcs::CaptureStore& store_;
    ufcs::CaptureList list_;
    ufcs::SequenceChecker checker_;
    std::filesystem::path openFile_;
    bool changed_ = false;  // since it was last saved or opened
    std::string note_;      // the last confirmation or miss, shown after the counts
    std::vector<CaptureDocumentObserver*> observers_;
};

}  // namespace analyzer
