#pragma once
// What the long-running commands (capture, record) share: how long they run,
// the signals that end them, and the simulated instrument's faults.

#include <array>
#include <chrono>
#include <csignal>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/clock.h"
#include "common/file_save.h"
#include "device/hid_device.h"

namespace cli {

// --seconds as a finite positive number (infinity when absent), or nothing
// after telling `err`.
std::optional<double> positiveSeconds(const Arguments& parsed, const std::string& command,
                                      std::ostream& err);
// `seconds` from now; far beyond any test for a huge or infinite value.
common::Clock::TimePoint deadlineAfter(const common::Clock& clock, double seconds);

// The simulated instrument's faults each command can apply, as --help lists them.
extern const std::vector<std::string> kCaptureFaults;
extern const std::vector<std::string> kRecordFaults;
extern const std::vector<std::string> kFirmwareFaults;

// --fault KIND[,KIND...] for the simulated instrument, checked against the
// kinds the command can apply; or nothing after telling `err`.
std::optional<std::vector<std::string>> simulatedFaults(const Arguments& parsed,
                                                        const std::string& command,
                                                        const std::vector<std::string>& applicable,
                                                        std::ostream& err);

// What every command that talks to the instrument takes besides its own:
// --simulate[=N] and --device SERIAL|PATH.
// (A plain name: the commands' syntax tables are built at start-up, in any order.)
inline constexpr const char* kDeviceOption = "--device";

// The instrument the command line asks for: --simulate[=N] (with its
// faults), --device, --trace. Without --device the first instrument no other
// program holds is taken, and the busy ones passed over are told on `err`.
// Nothing, after one line on `err` that says so and how to simulate one,
// when no instrument is attached.
std::unique_ptr<device::HidDevice> chosenInstrument(const std::string& command,
                                                    const Arguments& parsed, bool trace,
                                                    std::ostream& err,
                                                    const std::vector<std::string>& faults = {});

// While it lives, Ctrl+C, SIGTERM and SIGHUP set interrupted() (the command
// then ends and saves), and a closed standard output is a failed write, not a
// killed process.
class EndingSignals {
  public:
    EndingSignals();
    ~EndingSignals();
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

  private:
    using Handler = void (*)(int);
#ifdef SIGHUP
    static constexpr std::array<int, 3> kEnding = {SIGINT, SIGTERM, SIGHUP};
#else
    static constexpr std::array<int, 2> kEnding = {SIGINT, SIGTERM};
#endif
    std::array<Handler, kEnding.size()> previous_{};
#ifdef SIGPIPE
    Handler previousPipe_ = SIG_DFL;
#endif
};
bool interrupted();
// How a save waits at the end of a command: an ending signal that comes once
// the save has begun (the first one may have ended the capture) ends the wait,
// and a wait for a FIFO's reader is told on `err`.
common::SaveControl endingSaveControl(std::ostream& err);

}  // namespace cli
