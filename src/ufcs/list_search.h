#pragma once
// Finding rows in the listed capture: by text, by fault, and by record.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ufcs/capture_list.h"
#include "ufcs/sequence_check.h"

namespace ufcs {

enum class SearchDirection { Forward, Backward };

// The next row after `from` (before it, backward), wrapping around, whose
// column texts, or sequence notes when a report is given, contain `needle`
// (case-insensitive for ASCII letters); `from` itself comes last. No `from`:
// the search starts at the first (last) row.
std::optional<std::size_t> findRowWithText(const CaptureList& list, std::optional<std::size_t> from,
                                           SearchDirection direction, std::string_view needle,
                                           const SequenceReport* report = nullptr);

// A row marked faulty: red or pink, or with a sequence finding.
bool rowIsFaulty(const CaptureList& list, std::size_t row, const SequenceReport& report);
std::optional<std::size_t> findFaultyRow(const CaptureList& list, std::optional<std::size_t> from,
                                         SearchDirection direction, const SequenceReport& report);

// The row that lists `record`, if it is listed.
std::optional<std::size_t> rowOfRecord(const CaptureList& list, uint32_t record);

}  // namespace ufcs
