// `ufcs devices`: every attached instrument, whether another program holds it,
// and the firmware a free one reports.

#include <ostream>

#include "cli/cli.h"
#include "cli/json.h"
#include "cli/run_control.h"
#include "common/clock.h"
#include "instrument/instrument_listing.h"
#include "simulator/instrument_choice.h"

namespace cli {
namespace {

std::string firmwareOf(const instrument::ListedInstrument& entry) {
    return entry.versions ? instrument::firmwareVersion(*entry.versions) : std::string();
}

void printTabbed(const std::vector<instrument::ListedInstrument>& listed, std::ostream& out) {
    for (const instrument::ListedInstrument& entry : listed) {
        out << entry.attached.serial << '\t' << entry.attached.path << '\t'
            << (entry.versions ? firmwareOf(entry) : "-") << '\t'
            << instrument::stateWord(entry.state);
        if (!entry.problem.empty()) out << '\t' << entry.problem;
        out << '\n';
    }
}

void printJson(const std::vector<instrument::ListedInstrument>& listed, std::ostream& out) {
    out << "[";
    const char* separator = "\n";
    for (const instrument::ListedInstrument& entry : listed) {
        out << separator << "  {\"serial\": " << jsonString(entry.attached.serial)
            << ", \"path\": " << jsonString(entry.attached.path) << ", \"firmware\": "
            << (entry.versions ? jsonString(firmwareOf(entry)) : std::string("null"))
            << ", \"state\": " << jsonString(instrument::stateWord(entry.state));
        if (!entry.problem.empty()) out << ", \"problem\": " << jsonString(entry.problem);
        out << "}";
        separator = ",\n";
    }
    out << (listed.empty() ? "]\n" : "\n]\n");
}

}  // namespace

int runDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"devices", {"--simulate", "--json"}}, err);
    if (!parsed) return 2;
    simulator::InstrumentChoice choice;
    choice.simulate = parsed->has("--simulate");
    choice.simulatedCount =
        parsed->values.count("--simulate") ? std::stoul(parsed->value("--simulate")) : 1;
    const std::unique_ptr<device::ChoosingDevice> chooser = simulator::chooseInstruments(choice);
    common::SystemClock clock;
    const std::vector<instrument::ListedInstrument> listed =
        instrument::listInstruments(chooser->catalog(), clock);
    if (parsed->has("--json"))
        printJson(listed, out);
    else if (listed.empty())
        err << device::kNotFoundText << '\n';
    else
        printTabbed(listed, out);
    return 0;
}

}  // namespace cli
