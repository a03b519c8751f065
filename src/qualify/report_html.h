#pragma once
// report.html: one self-contained page (no network, no script) a maker hands
// to a customer: the charger, the verdict, every test with its evidence, and
// the bus voltage and current of the whole run with each Request and
// Power_Ready marked.

#include <string>

#include "qualify/qualification.h"
#include "qualify/qualification_report.h"
#include "ufcs/capture_store.h"

namespace qualify {

std::string reportHtml(const QualificationReport& report, const RunFacts& facts,
                       const ufcs::CaptureStore& store);

// The run's voltage and current against time as an SVG picture (inline in the page).
std::string runCurveSvg(const ufcs::CaptureStore& store, int width, int height);

}  // namespace qualify
