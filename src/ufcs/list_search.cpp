#include "ufcs/list_search.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace ufcs {
namespace {

bool containsIgnoringAsciiCase(std::string_view text, std::string_view needle) {
    const auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

std::optional<std::size_t> findRow(const CaptureList& list, std::optional<std::size_t> from,
                                   SearchDirection direction,
                                   const std::function<bool(std::size_t)>& matches) {
    const std::size_t count = list.rowCount();
    if (count == 0) return std::nullopt;
    const bool forward = direction == SearchDirection::Forward;
    std::size_t row = from ? *from : (forward ? count - 1 : 0);
    for (std::size_t step = 0; step < count; ++step) {
        row = forward ? (row + 1) % count : (row + count - 1) % count;
        if (matches(row)) return row;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::size_t> findRowWithText(const CaptureList& list, std::optional<std::size_t> from,
                                           SearchDirection direction, std::string_view needle,
                                           const SequenceReport* report) {
    if (needle.empty()) return std::nullopt;
    return findRow(list, from, direction, [&](std::size_t row) {
        const ListRow texts = list.rowTexts(row);
        const auto contains = [&](const std::string& text) {
            return containsIgnoringAsciiCase(text, needle);
        };
        if (std::any_of(texts.columns.begin(), texts.columns.end(), contains)) return true;
        if (!report) return false;
        const auto notes = report->notesFor(list.recordAt(row));
        return std::any_of(notes.begin(), notes.end(),
                           [&](const SequenceNote* note) { return contains(note->text); });
    });
}

bool rowIsFaulty(const CaptureList& list, std::size_t row, const SequenceReport& report) {
    const uint32_t record = list.recordAt(row);
    const uint32_t colour = list.store().record(record).rowColour();
    return colour == kColourFault || colour == kColourTooLong || report.hasFinding(record);
}

std::optional<std::size_t> findFaultyRow(const CaptureList& list, std::optional<std::size_t> from,
                                         SearchDirection direction, const SequenceReport& report) {
    return findRow(list, from, direction,
                   [&](std::size_t row) { return rowIsFaulty(list, row, report); });
}

std::optional<std::size_t> rowOfRecord(const CaptureList& list, uint32_t record) {
    const std::vector<uint32_t>& rows = list.rows();
    const auto at = std::lower_bound(rows.begin(), rows.end(), record);
    if (at == rows.end() || *at != record) return std::nullopt;
    return static_cast<std::size_t>(at - rows.begin());
}

}  // namespace ufcs
