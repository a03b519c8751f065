#include "cli/run_control.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "common/format.h"
#include "device/tracing_device.h"
#include "simulator/instrument_choice.h"
#include "simulator/responder.h"

namespace cli {
namespace {

// Beyond this a command runs until it is interrupted (and no deadline overflows).
constexpr double kLongestTimedSeconds = 1e9;

volatile std::sig_atomic_t interruptions = 0;
void onInterrupt(int) {
    interruptions = interruptions + 1;
}

}  // namespace

std::optional<double> positiveSeconds(const Arguments& parsed, const std::string& command,
                                      std::ostream& err) {
    if (!parsed.values.count("--seconds")) return std::numeric_limits<double>::infinity();
    const std::string text = parsed.value("--seconds");
    const double seconds = common::parseNumber(text).value_or(0);
    if (!std::isfinite(seconds) || seconds <= 0) {
        reportBadArgument(
            command, "--seconds '" + text + "' is not a finite positive number of seconds", err);
        return std::nullopt;
    }
    return seconds;
}

common::Clock::TimePoint deadlineAfter(const common::Clock& clock, double seconds) {
    if (!(seconds < kLongestTimedSeconds)) return common::Clock::TimePoint::max();
    return clock.now() + std::chrono::duration_cast<common::Clock::TimePoint::duration>(
                             std::chrono::duration<double>(seconds));
}

const std::vector<std::string> kCaptureFaults = {"unplug@S",        "silence@S", "refuse-start",
                                                 "uncalibrated",    "drop-ack",  "repeat-number",
                                                 "slow-power-ready"};
const std::vector<std::string> kRecordFaults = {"unplug@S",   "silence@S",    "misses",
                                                "wrong-code", "refuse-start", "uncalibrated"};
const std::vector<std::string> kFirmwareFaults = {"refuse-page@K", "unplug-page@K", "silent-burn"};

namespace {

// "unplug@2.5" is of the kind "unplug@S", "refuse-page@3" of "refuse-page@K".
bool ofKind(const std::string& fault, const std::string& kind) {
    const auto at = kind.find('@');
    if (at == std::string::npos) return fault == kind;
    return fault.size() > at + 1 && fault.compare(0, at + 1, kind, 0, at + 1) == 0;
}

}  // namespace

std::optional<std::vector<std::string>> simulatedFaults(const Arguments& parsed,
                                                        const std::string& command,
                                                        const std::vector<std::string>& applicable,
                                                        std::ostream& err) {
    std::vector<std::string> faults;
    if (!parsed.values.count("--fault")) return faults;
    std::istringstream list(parsed.value("--fault"));
    std::string fault;
    while (std::getline(list, fault, ',')) {
        simulator::InstrumentSettings ignored;
        const bool known = std::any_of(applicable.begin(), applicable.end(),
                                       [&](const std::string& k) { return ofKind(fault, k); });
        if (!known || !simulator::applyFault(fault, ignored)) {
            reportBadArgument(
                command,
                "--fault '" + fault + "' is not one this command can apply: " + listed(applicable),
                err);
            return std::nullopt;
        }
        faults.push_back(fault);
    }
    if (!parsed.has("--simulate")) {
        reportBadArgument(command, "--fault needs --simulate", err);
        return std::nullopt;
    }
    return faults;
}

std::unique_ptr<device::HidDevice> chosenInstrument(const std::string& command,
                                                    const Arguments& parsed, bool trace,
                                                    std::ostream& err,
                                                    const std::vector<std::string>& faults) {
    simulator::InstrumentChoice choice;
    choice.simulate = parsed.has("--simulate");
    choice.simulatedCount =
        parsed.values.count("--simulate") ? std::stoul(parsed.value("--simulate")) : 1;
    choice.device = parsed.value("--device");
    choice.faults = faults;
    std::unique_ptr<device::ChoosingDevice> chooser = simulator::chooseInstruments(choice);
    if (chooser->catalog().attached().empty()) {
        err << "ufcs " << command << ": " << device::kNotFoundText
            << "（没有连接仪器时，可用 --simulate 使用模拟仪器）\n";
        return nullptr;
    }
    // The first free instrument is found now and kept, so that what is said
    // about the busy ones holds for the whole command.
    if (choice.device.empty() && chooser->open()) {
        const device::AttachedInstrument taken = chooser->identity();
        if (const std::string told = device::passedOverText(*chooser); !told.empty())
            err << told << '\n';
        chooser->close();
        chooser->choose(taken);
    }
    if (!trace) return chooser;
    return std::make_unique<device::TracingDevice>(std::move(chooser), err);
}

EndingSignals::EndingSignals() {
    interruptions = 0;
    for (std::size_t i = 0; i < kEnding.size(); ++i)
        previous_[i] = std::signal(kEnding[i], onInterrupt);
#ifdef SIGPIPE
    previousPipe_ = std::signal(SIGPIPE, SIG_IGN);
#endif
}

EndingSignals::~EndingSignals() {
    for (std::size_t i = 0; i < kEnding.size(); ++i)
        std::signal(kEnding[i], previous_[i]);
#ifdef SIGPIPE
    std::signal(SIGPIPE, previousPipe_);
#endif
}

bool interrupted() {
    return interruptions != 0;
}

common::SaveControl endingSaveControl(std::ostream& err) {
    common::SaveControl control;
    control.cancelled = [before = static_cast<long>(interruptions)] {
        return interruptions != before;
    };
    control.waitingForReader = [&err, seconds = control.readerWait.count() / 1000] {
        err << "正在等待程序读取这个 FIFO（最多 " << seconds << " 秒，Ctrl+C 放弃）\n";
        err.flush();
    };
    return control;
}

}  // namespace cli
