#pragma once
// The `ufcs` command: the analyzer's core without a window.

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "upgrade/fetch.h"

namespace cli {

// How `ufcs plot` draws: pictures need the windows' views, which this Qt-free
// library does not link; the program passes `runPlot` (cli/plot_command.h) in.
using PictureMaker =
    std::function<int(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)>;

// Runs one command line (without the program name); returns the exit status.
// `fetch` is how the upgrade commands download, `plot` how pictures are drawn
// (none: those commands refuse to run).
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const upgrade::Fetcher& fetch = {}, const PictureMaker& plot = {});

// `ufcs rows FILE [--json|--csv [--utf8]]`: the message list of a capture file.
int runRows(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs import FILE -o OUT.ufcs_stream`: a logic analyzer's recording as a capture file.
int runImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int runExportLogic(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs check FILE [--json]`: the sequence and timing findings of a capture file.
int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs decode FILE INDEX [--json]`: the decode of one record, as shown when its row is selected.
int runDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs devices [--simulate[=N]] [--json]`: every attached instrument.
int runDevices(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `ufcs capture ...`: listens to the instrument, prints rows as they arrive, saves the capture.
int runCapture(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err);

// `ufcs send ENTRY [fields]`: sends one entry of the send list as the charging device.
int runSend(const std::vector<std::string>& args, bool trace, std::ostream& out, std::ostream& err);
// `ufcs qualify`: judges a charger against the UFCS standard, test by test.
int runQualify(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err);
// `ufcs export-pcapng CAPTURE -o OUT.pcapng`: the capture for Wireshark (with ufcs.lua).
int runExportPcapng(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// `ufcs summary FILE`: a short text of a capture or a recording, for a bug report.
int runSummary(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err);
// `ufcs modes`: the charger's output modes, as the output-modes panel lists them.
int runModes(const std::vector<std::string>& args, bool trace, std::ostream& out,
             std::ostream& err);

// `ufcs record ...`: records voltage and current to an .osa file; `ufcs recover`
// turns a journal left by a crash into one.
int runRecord(const std::vector<std::string>& args, bool trace, std::ostream& out,
              std::ostream& err);
int runRecover(const std::vector<std::string>& args, bool trace, std::ostream& out,
               std::ostream& err);
// `ufcs osa FILE`: what an .osa file holds; `ufcs csv FILE -o OUT`: its CSV export.
int runOsa(const std::vector<std::string>& args, bool trace, std::ostream& out, std::ostream& err);
int runCsv(const std::vector<std::string>& args, bool trace, std::ostream& out, std::ostream& err);

// `ufcs check-update ...`: the program check (and download) of the upgrade dialogs;
// `ufcs firmware ...`: the firmware check and transfer. Both download through
// `fetch` (none: they refuse to run).
int runCheckUpdate(const std::vector<std::string>& args, const upgrade::Fetcher& fetch,
                   std::ostream& out, std::ostream& err);
int runFirmware(const std::vector<std::string>& args, bool trace, const upgrade::Fetcher& fetch,
                std::ostream& out, std::ostream& err);

// A command line split into its positional words, its flags and its options with a value.
struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::string> flags;
    std::map<std::string, std::string> values;
    bool has(const std::string& flag) const;
    std::string value(const std::string& option, const std::string& fallback = {}) const;
};

// An option that takes a value; `accepted` lists the only values allowed, if any.
struct OptionSyntax {
    std::string name;
    std::vector<std::string> accepted = {};
};
// What one command accepts.
struct CommandSyntax {
    std::string command;  // "capture"
    std::vector<std::string> flags = {};
    std::vector<OptionSyntax> options = {};
    std::vector<std::string> positional = {};  // the names of the positional words, in order
};

// The command line split by `syntax`; nothing when a word is wrong, after
// telling `err` which word and what the command accepts.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const CommandSyntax& syntax, std::ostream& err);
// "ufcs COMMAND: problem" and where to read the usage, on `err`.
void reportBadArgument(const std::string& command, const std::string& problem, std::ostream& err);
// --from/--to of `command`: seconds from a test's start; nothing after telling `err`.
std::optional<double> secondsInTest(const Arguments& parsed, const char* option,
                                    const std::string& command, std::ostream& err);
// A dialog's prompt as a command line says it: without its quotes and full stop.
std::string plainPrompt(std::string text);
// A path the user typed (UTF-8).
std::filesystem::path pathArgument(const std::string& text);
// The file -o names, checked before any work is done (the folder exists, it
// is no folder itself); nothing after telling `err`, naming the command.
// `missing` names what -o should give ("FILE.osa").
std::optional<std::filesystem::path> outputArgument(const Arguments& parsed,
                                                    const std::string& command,
                                                    const std::string& missing, std::ostream& err);
// The words joined with ", ".
std::string listed(const std::vector<std::string>& words);

}  // namespace cli
