#pragma once
// A short text for a bug report (`ufcs summary`): of a capture, the
// charger's identity and output modes, the negotiation in a few lines and
// the sequence findings; of a recording, its totals. Plain text, or
// Markdown for a ticket that renders it.

#include <string>

#include "recorder/sample_document.h"
#include "ufcs/capture_store.h"
#include "ufcs/sequence_check.h"

namespace sharing {

enum class SummaryStyle { Text, Markdown };

// The negotiation shows at most this many Requests; the rest are counted.
inline constexpr std::size_t kSummaryRequests = 12;
// ... and at most this many findings, after their count by kind.
inline constexpr std::size_t kSummaryFindings = 5;

std::string captureSummary(const ufcs::CaptureStore& store, const ufcs::SequenceReport& report,
                           const std::string& name, SummaryStyle style);
std::string recordingSummary(const recorder::SampleDocument& document, const std::string& name,
                             SummaryStyle style);

}  // namespace sharing
