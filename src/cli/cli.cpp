#include "cli/cli.h"
#include "cli/output.h"
#include "common/file_save.h"
#include "common/program_info.h"
#include "simulator/instrument_choice.h"

#include <algorithm>
#include <ostream>

namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: ufcs COMMAND ...   ('ufcs COMMAND --help' shows one command's options)\n"
    "commands:\n"
    "  rows          list a capture file as the analyzer lists it\n"
    "  check         find missing ACKs, numbering slips and late answers in a capture\n"
    "  decode        decode one record of a capture as the analyzer shows it\n"
    "  import        turn a logic analyzer's D+/D- recording (.sr .dsl .vcd .csv) into a capture\n"
    "  export-logic  write a capture as D+/D- levels in a sigrok session (.sr), flaws if asked\n"
    "  export-pcapng write a capture as a pcapng file for Wireshark (with the ufcs dissector)\n"
    "  devices       list the attached instruments (serial, path, firmware, busy)\n"
    "  capture       listen to the instrument, print rows as they arrive, save the capture\n"
    "  send          send one message of the send list as the charging device\n"
    "  modes         list the charger's output modes\n"
    "  qualify       judge a charger against the UFCS standard, test by test, with a report\n"
    "  record        record bus voltage and current ten times a second to an .osa file\n"
    "  recover       turn the journal a crashed recording left into an .osa file\n"
    "  osa           what an .osa test file holds (duration, Wh, mAh, channels)\n"
    "  csv           export an .osa test as CSV, as 另存为CSV格式 does\n"
    "  summary       a short text of a capture or a test file, to paste into a bug report\n"
    "  plot          a test file's waveform or a capture's packet curve as a PNG or SVG picture\n"
    "  check-update  ask the update server for a newer program (and download it)\n"
    "  firmware      check for new instrument firmware and transfer it\n"
    "global option: --trace   print every report written (>) and read (<) on stderr\n"
    "instrument options of capture, send, modes, qualify, record and firmware:\n"
    "  --simulate[=N]         N simulated instruments (SIM0001...) instead of real ones\n"
    "  --device SERIAL|PATH   the instrument to use; without it the first one no other\n"
    "                         program holds (see 'ufcs devices')\n";

constexpr const char* kDevicesUsage =
    "usage: ufcs devices [--simulate[=N]] [--json]\n"
    "  lists every attached instrument, one TAB-separated line each: serial number, path,\n"
    "  firmware version (from its connect reply; - when it cannot be asked) and free, busy\n"
    "  (another program holds it) or unavailable (with the reason); --json gives an array of\n"
    "  {serial, path, firmware, state, problem}. Each free instrument is opened for a moment\n";
constexpr const char* kRowsUsage =
    "usage: ufcs rows FILE [--json | --csv [--utf8]] [--relative] [LINES]\n"
    "  lists a .ufcs_stream capture as the analyzer's message list shows it, one TAB-separated\n"
    "  line per row (index, type, receiver, message, summary, voltage, time, baud, colour),\n"
    "  or a JSON array with --json (the texts, plus time_us, delta_us, voltage_mv, current_ma\n"
    "  and bytes), or CSV with --csv (GBK unless --utf8, which writes UTF-8 with a byte-order\n"
    "  mark), as the analyzer's 导出 writes it; --relative counts the times from the capture's\n"
    "  first record instead of the instrument's uptime. FILE may be a logic analyzer's\n"
    "  recording (see 'ufcs import'; LINES are its --dp/--dm/--vbus/--ibus)\n";
constexpr const char* kImportUsage =
    "usage: ufcs import FILE.sr|FILE.dsl|FILE.vcd|FILE.csv [--dp N] [--dm N]\n"
    "                   [--vbus NAME[*SCALE]] [--ibus NAME[*SCALE]] -o OUT.ufcs_stream\n"
    "  a logic analyzer's recording of D+ and D- (a sigrok or DSView session, a VCD, or a CSV of a "
    "time\n"
    "  column in seconds and one 0/1 column per line) as a capture file: each packet, found by its "
    "training\n"
    "  byte, becomes a record with its line, baud rate and time; handshakes and hardware resets\n"
    "  become their event records. D+ and D- are the lines so named (D+/DP, D-/DM), else the\n"
    "  first two; --dp and --dm give them by number from 0. A sigrok session's analog lines\n"
    "  named VBUS and IBUS (or V, I, Voltage, Current) give each record the bus voltage and\n"
    "  current at its moment; --vbus and --ibus name them, *SCALE turns a reading into volts or\n"
    "  amperes (a divider of 10: VBUS*10). rows, decode and check read these files directly\n"
    "  too, take the same options, and check adds what only the lines show (see 'ufcs check')\n";
constexpr const char* kExportLogicUsage =
    "usage: ufcs export-logic CAPTURE -o OUT.sr [--rate 1MHz|24MHz] [--baud-error PCT]\n"
    "                         [--jitter NS] [--gap-us N] [--drift PCT]\n"
    "  writes a capture as the D+ and D- levels a logic analyzer records, as a sigrok session\n"
    "  PulseView opens: each message as 8N1 characters at its baud rate with a bit of idle\n"
    "  between them, handshakes and hardware resets as their pulses; the file starts 10 ms\n"
    "  before the first record. --rate sets the sample rate (default 1MHz). Imperfections:\n"
    "  --baud-error every packet PCT faster (below 0: slower), --drift the bit time growing by\n"
    "  PCT through each packet, --jitter each edge late by up to NS nanoseconds, --gap-us the\n"
    "  idle between characters. 'ufcs check' on the file shows what they amount to\n";
constexpr const char* kCheckUsage =
    "usage: ufcs check FILE [--json] [--fail-on KINDS|all] [--junit FILE] [--ack-ms MS]\n"
    "       [--answer-ms MS] [--power-ready-ms MS] [--power-supply-ms MS] [--gap-ms MS] [LINES]\n"
    "  checks a capture across messages: the ACK of each message, each sender's message\n"
    "  numbers and spacing, Request -> Accept/Refuse -> Power_Ready and Get_* -> answer, with\n"
    "  their delays. Prints one TAB-separated line per finding (index, kind, delay, text), or\n"
    "  with --json an array of {index, kind, delay_us, text, limit, clause}; kind is no_ack,\n"
    "  ack_mismatch, retransmission, lost_message, no_answer, late or too_soon (a sender's\n"
    "  next message sooner than 2 ms after its last). An ACK counts from the end of the message\n"
    "  it answers. For a logic analyzer's recording also baud_out_of_range (beyond 10 %),\n"
    "  baud_drift (over 1 % in a packet), framing_error, short_character_idle (under a bit),\n"
    "  short_packet_idle (under 2 ms on one line) and handshake_pulse (a width outside its\n"
    "  window), each with measured {value, low, high, unit} in --json.\n"
    "  The limits are the standard's: ACK 10 ms (tACKReceive), answer 50 ms\n"
    "  (tSenderResponse), Power_Ready after Accept 120/275/400 ms by the voltage asked for\n"
    "  (tPowReady) and never over 550 ms (tPowerSupply), 2 ms between messages\n"
    "  (tMsgTransDelay); the -ms options set others (--power-ready-ms one for every voltage).\n"
    "  The findings go to standard output, the summary line (N 处时序问题) to standard error.\n"
    "  --junit writes a JUnit XML report, a test case per kind. Exit 0 with or without\n"
    "  findings, but 1 when a kind listed in --fail-on (comma-separated, or all) is found; 1\n"
    "  for a file it cannot read, 2 for a wrong option. LINES: a logic recording's --dp, --dm,\n"
    "  --vbus and --ibus (see 'ufcs import')\n";
constexpr const char* kQualifyUsage =
    "usage: ufcs qualify [--simulate[=N]] [--device SERIAL|PATH] [--plan FILE] [--report DIR]\n"
    "       [--json] [--junit FILE] [--fault KIND] [--print-plan]\n"
    "  judges a charger against the UFCS standard: the instrument acts as the phone and walks\n"
    "  the plan: the handshake, the default output, every question answered in time, each\n"
    "  output mode's lowest and highest voltage and largest current (Accept, Power_Ready\n"
    "  within tPowReady, the output and its read-back within table 39, the current read-back\n"
    "  within table 40), a Request beyond every mode refused, Soft_Reset, and the ACKs,\n"
    "  numbers and spacing of the whole run. Prints a line per test (id, PASS/FAIL/NOT\n"
    "  MEASURABLE, measured, limit, title), or the report as JSON with --json.\n"
    "  --print-plan prints the built-in plan as a plan file; --plan FILE chooses tests, adds\n"
    "  voltage points and tightens limits. --report DIR saves the capture, report.json,\n"
    "  report.html and junit.xml there; --junit FILE the JUnit XML alone. Ctrl+C stops after\n"
    "  the send under way: what was reached is judged, the rest is listed as not reached\n"
    "  (verdict INCOMPLETE), and the report is saved. Exit 0 when the whole plan ran and no\n"
    "  test failed (NOT MEASURABLE is not a failure), 1 when one did or the run was stopped\n"
    "  or could not be made, 2 for a wrong option or plan.\n"
    "  --fault (with --simulate): drop-ack, repeat-number, slow-power-ready, and a charger\n"
    "  that breaks the standard: late-ready (Power_Ready late above 20 V), output-off (1 V\n"
    "  high), readback-off (300 mV), refuse-in-range, accept-out-of-range, unanswered\n"
    "  (Get_Device_Info), slow-ack (15 ms), skip-number\n";
constexpr const char* kDecodeUsage =
    "usage: ufcs decode FILE INDEX [--json] [LINES]\n"
    "  prints what the analyzer shows for record INDEX: the detail text, a line --, and the\n"
    "  field tree; --json gives the pane segments, the tree and the warnings. LINES: a logic\n"
    "  recording's --dp, --dm, --vbus and --ibus (see 'ufcs import')\n";
constexpr const char* kCaptureUsage =
    "usage: ufcs capture [--simulate[=N]] [--device SERIAL|PATH]"
    " [--mode listen|sink] [--type-c] [--refuse-ack] "
    "[--refuse-ping]\n"
    "                    [--fault KIND[,KIND...]] [--seconds S] -o FILE\n"
    "  listens for S seconds (a positive number; without it, until Ctrl+C or the end of the\n"
    "  session), prints each row as it is listed and saves the capture to FILE; Ctrl+C,\n"
    "  SIGTERM and SIGHUP end the capture and save it. An instrument that refuses to listen\n"
    "  (设备拒绝!), stops answering (设备传输中断!) or is unplugged ends the capture: what was\n"
    "  captured is saved and the exit status is 1.\n"
    "  --fault (with --simulate): unplug@S, silence@S, refuse-start, uncalibrated, drop-ack,\n"
    "  repeat-number, slow-power-ready\n";
constexpr const char* kSendUsage =
    "usage: ufcs send [--simulate[=N]] [--device SERIAL|PATH]"
    " [--trace] ENTRY [fields]\n"
    "       ufcs send --list\n"
    "  ENTRY: an entry of the send list (Ping, Request, 设置波特率, ...) or its position 0-19;\n"
    "  --list prints the entries with the fields each one takes\n"
    "  prints the message sent and the rows of the charger's answer; exits 0 when it was sent.\n"
    "  A Request outside the charger's output modes is refused unless --out-of-range is given\n"
    "  (to see the charger refuse it); voltage and current go in 10 mV and 10 mA units.\n"
    "  fields: --mode-number N --voltage MV --current MA | --ms N | --key-index HEX --random \"HEX "
    "...\" |\n"
    "          --encrypted \"HEX ...\" --random \"HEX ...\" | --test-mode 0|1 --voltage-accuracy "
    "0|1\n"
    "          --message-type 0|1|2 --device 0|1|2 --command N | --receiver 1|2|3 --vendor-id \"HH "
    "HH\"\n"
    "          --data \"HEX ...\" | --baud 115200|57600|38400|19200 | --bytes \"HEX ...\"\n";
constexpr const char* kRecordUsage =
    "usage: ufcs record [--simulate[=N]] [--device SERIAL|PATH]"
    " [--fault KIND[,KIND...]] [--seconds S] [--append FILE.osa] "
    "\n"
    "                   [--discard-journal] -o FILE.osa\n"
    "  records one voltage and current sample every 100 ms until S seconds have passed or\n"
    "  Ctrl+C, printing a progress line a second, then saves; --append continues a test file.\n"
    "  The samples are journaled to FILE.osa.journal until the save (see ufcs recover). A\n"
    "  journal left there by a recording that never ended is never overwritten: recover it\n"
    "  first, or pass --discard-journal to throw it away.\n"
    "  --fault (with --simulate): unplug@S, silence@S, misses, wrong-code, refuse-start,\n"
    "  uncalibrated\n";
constexpr const char* kRecoverUsage =
    "usage: ufcs recover FILE.osa.journal -o FILE.osa\n"
    "  turns the journal of a recording that never got saved into a test file\n";
constexpr const char* kOsaUsage =
    "usage: ufcs osa FILE.osa [--json] [--samples]\n"
    "       ufcs osa A.osa --compare B.osa [--json]\n"
    "  prints version, signature, period, calibrated, the test's duration, energy (Wh) and\n"
    "  charge (mAh), and one line per channel that holds samples (count, max, min, sum);\n"
    "  --samples adds index, seconds, mV and mA of each sample. --compare prints both tests'\n"
    "  duration, Wh, mAh, mean and peak voltage and current, and B - A with the change in\n"
    "  per cent\n";
constexpr const char* kExportPcapngUsage =
    "usage: ufcs export-pcapng CAPTURE -o OUT.pcapng [LINES]\n"
    "  writes the capture for Wireshark: interfaces D+ and D- of the Exported PDU link type,\n"
    "  each packet tagged for the dissector 'ufcs' (ufcs.lua), one per record, so that frame\n"
    "  N is record N, with its time (microseconds), the bus voltage and current, the bytes\n"
    "  on the wire from the Training byte and the sequence check's notes (the standard's\n"
    "  limits, as 'ufcs check' without options). Wireshark shows them with ufcs.lua\n"
    "  (installed with the package; on Windows copy it into %APPDATA%\\Wireshark\\plugins).\n"
    "  CAPTURE may be a logic recording (see 'ufcs import'; LINES are its --dp/--dm/--vbus/\n"
    "  --ibus)\n";
constexpr const char* kSummaryUsage =
    "usage: ufcs summary CAPTURE|FILE.osa [--markdown]\n"
    "  a short text to paste into a bug report. Of a capture: the charger's Device_Information\n"
    "  and output modes, the bus voltage and current seen, each Request with what followed\n"
    "  (Accept or Refuse, Power_Ready and the output, with times; the first 12), and the\n"
    "  sequence findings by kind with the first five. Of a test file: duration, Wh, mAh and\n"
    "  the mean, highest and lowest voltage and current. --markdown: headings, a table and\n"
    "  code blocks for a ticket that renders Markdown\n";
constexpr const char* kPlotUsage =
    "usage: ufcs plot FILE.osa|CAPTURE -o OUT.png|OUT.svg [--from S --to S] [--width W]\n"
    "                 [--height H]\n"
    "  draws a test file's voltage and current as the recorder's window does (the whole test,\n"
    "  its totals in the panel), or a capture's packet curve as 步骤曲线 does, under a heading\n"
    "  with the file's name. --from/--to (seconds, a test file) put the time zone lines there,\n"
    "  with what they measure. --width 600-8000 and --height 400-4000 pixels (1400 x 800); a\n"
    "  capture's curve is 1240 x 700, or 1000 x 700 when --width is below 1240\n";
constexpr const char* kCsvUsage =
    "usage: ufcs csv FILE.osa -o OUT.csv [--period P | --every-sample] [--from S] [--to S]\n"
    "                [--volts V|mV] [--amps A|mA] [--power W|mW] [--utf8]\n"
    "  writes the CSV export: one row per P seconds (1-600), or per sample (--every-sample or\n"
    "  --period 0.1, times h:mm:ss.t); --from and --to (seconds in the test, both included)\n"
    "  export a part; GBK header unless --utf8\n";
constexpr const char* kModesUsage =
    "usage: ufcs modes [--simulate[=N]] [--device SERIAL|PATH]"
    " [--trace] [--json]\n"
    "  connects as the charging device and lists the charger's output modes (with --json an\n"
    "  array of {mode, min_mv, max_mv, min_ma, max_ma, step_mv, step_ma})\n";

constexpr const char* kCheckUpdateUsage =
    "usage: ufcs check-update --server URL [--program analyzer|recorder] [--download FILE]\n"
    "                         [--public-key BASE64 | --allow-unsigned] [--json]\n"
    "  runs the program query and prints the latest version code, the download URL and\n"
    "  the text the 新版本 label shows; with --download, a newer program is downloaded to\n"
    "  FILE and kept only when its size, sha256 and signed release statement (with a key)\n"
    "  are right; without a key it is downloaded only with --allow-unsigned\n";

constexpr const char* kFirmwareUsage =
    "usage: ufcs firmware [--simulate[=N]] [--device SERIAL|PATH]"
    " [--fault KIND] --server URL\n"
    "                     [--public-key BASE64 | --allow-unsigned] [--trace]\n"
    "  connects as the upgrade dialog does, asks for new firmware and, when offered,\n"
    "  downloads, checks and transfers it (firmware not newer than the instrument's is\n"
    "  refused; without a key only with --allow-unsigned); prints each text the dialog\n"
    "  would show and exits 0 only on 升级成功!\n"
    "  --fault (with --simulate): refuse-page@K, unplug-page@K, silent-burn\n";

// What every command is run with besides its arguments.
struct RunContext {
    bool trace = false;
    const upgrade::Fetcher& fetch;
    const PictureMaker& plot;
};
using Runner = int (*)(const std::vector<std::string>&, const RunContext&, std::ostream&,
                       std::ostream&);
using TracedRunner = int (*)(const std::vector<std::string>&, bool, std::ostream&, std::ostream&);
using PlainRunner = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

template <TracedRunner run>
int traced(const std::vector<std::string>& args, const RunContext& context, std::ostream& out,
           std::ostream& err) {
    return run(args, context.trace, out, err);
}
template <PlainRunner run>
int plain(const std::vector<std::string>& args, const RunContext&, std::ostream& out,
          std::ostream& err) {
    return run(args, out, err);
}

int plotCommand(const std::vector<std::string>& args, const RunContext& context, std::ostream& out,
                std::ostream& err) {
    if (!context.plot) {
        err << "ufcs plot: this build has no pictures (it was built without the Qt windows)\n";
        return 2;
    }
    return context.plot(args, out, err);
}

struct Command {
    const char* name;
    const char* usage;
    Runner run;
};

const Command kCommands[] = {
    {"rows", kRowsUsage, plain<runRows>},
    {"devices", kDevicesUsage, plain<runDevices>},
    {"check", kCheckUsage, plain<runCheck>},
    {"decode", kDecodeUsage, plain<runDecode>},
    {"import", kImportUsage, plain<runImport>},
    {"export-logic", kExportLogicUsage, plain<runExportLogic>},
    {"capture", kCaptureUsage, traced<runCapture>},
    {"send", kSendUsage, traced<runSend>},
    {"modes", kModesUsage, traced<runModes>},
    {"qualify", kQualifyUsage, traced<runQualify>},
    {"summary", kSummaryUsage, traced<runSummary>},
    {"export-pcapng", kExportPcapngUsage, plain<runExportPcapng>},
    {"plot", kPlotUsage, plotCommand},
    {"record", kRecordUsage, traced<runRecord>},
    {"recover", kRecoverUsage, traced<runRecover>},
    {"osa", kOsaUsage, traced<runOsa>},
    {"csv", kCsvUsage, traced<runCsv>},
    {"check-update", kCheckUpdateUsage,
     [](const std::vector<std::string>& args, const RunContext& context, std::ostream& out,
        std::ostream& err) { return runCheckUpdate(args, context.fetch, out, err); }},
    {"firmware", kFirmwareUsage,
     [](const std::vector<std::string>& args, const RunContext& context, std::ostream& out,
        std::ostream& err) { return runFirmware(args, context.trace, context.fetch, out, err); }},
};

bool among(const std::vector<std::string>& words, const std::string& word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

const OptionSyntax* findOption(const CommandSyntax& syntax, const std::string& name) {
    for (const OptionSyntax& option : syntax.options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

std::string acceptedWords(const CommandSyntax& syntax) {
    std::vector<std::string> words = syntax.flags;
    for (const OptionSyntax& option : syntax.options)
        words.push_back(option.name + " VALUE");
    return words.empty() ? "none" : listed(words);
}

}  // namespace

bool Arguments::has(const std::string& flag) const {
    return among(flags, flag);
}

std::string Arguments::value(const std::string& option, const std::string& fallback) const {
    const auto it = values.find(option);
    return it == values.end() ? fallback : it->second;
}

std::filesystem::path pathArgument(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::optional<std::filesystem::path> outputArgument(const Arguments& parsed,
                                                    const std::string& command,
                                                    const std::string& missing, std::ostream& err) {
    const std::string path = parsed.value("-o");
    if (path.empty()) {
        reportBadArgument(command, "missing -o " + missing, err);
        return std::nullopt;
    }
    const std::filesystem::path target = pathArgument(path);
    if (const common::SaveOutcome check = common::checkSaveTarget(target); !check.ok) {
        reportBadArgument(command, "cannot save to '" + path + "': " + check.reason, err);
        return std::nullopt;
    }
    return target;
}

std::string listed(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

std::string plainPrompt(std::string text) {
    for (const std::string mark : {"“", "”", "。"}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.erase(at, mark.size());
    }
    return text;
}

void reportBadArgument(const std::string& command, const std::string& problem, std::ostream& err) {
    err << "ufcs " << command << ": " << problem << "\n"
        << "('ufcs " << command << " --help' shows the usage)\n";
}

std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const CommandSyntax& syntax, std::ostream& err) {
    auto refuse = [&](const std::string& problem) -> std::optional<Arguments> {
        reportBadArgument(syntax.command, problem, err);
        return std::nullopt;
    };
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const OptionSyntax* option = findOption(syntax, arg)) {
            if (i + 1 >= args.size()) return refuse(arg + " needs a value");
            const std::string& value = args[++i];
            if (!option->accepted.empty() && !among(option->accepted, value)) {
                return refuse(arg + " '" + value + "' is not one of " + listed(option->accepted));
            }
            parsed.values[arg] = value;
        } else if (among(syntax.flags, arg)) {
            parsed.flags.push_back(arg);
        } else if (arg.starts_with("--simulate=") && among(syntax.flags, "--simulate")) {
            const std::optional<unsigned> count = simulator::simulatedCountOf(arg);
            if (!count)
                return refuse("'" + arg + "': --simulate=N takes a count from 1 to " +
                              std::to_string(simulator::kMostSimulatedInstruments));
            parsed.flags.push_back("--simulate");
            parsed.values["--simulate"] = std::to_string(*count);
        } else if (!arg.starts_with("-") || arg == "-") {
            parsed.positional.push_back(arg);
        } else {
            return refuse("unknown option '" + arg + "'; accepted: " + acceptedWords(syntax));
        }
    }
    const std::size_t expected = syntax.positional.size();
    if (parsed.positional.size() < expected) {
        const std::vector<std::string> missing(
            syntax.positional.begin() + static_cast<long>(parsed.positional.size()),
            syntax.positional.end());
        return refuse("missing " + listed(missing));
    }
    if (parsed.positional.size() > expected)
        return refuse("unexpected argument '" + parsed.positional[expected] + "'");
    return parsed;
}

int runCli(const std::vector<std::string>& commandLine, std::ostream& out, std::ostream& err,
           const upgrade::Fetcher& fetch, const PictureMaker& plot) {
    // --trace may stand before or after the command name.
    std::vector<std::string> args;
    bool trace = false;
    for (const std::string& arg : commandLine) {
        if (arg == "--trace")
            trace = true;
        else
            args.push_back(arg);
    }
    if (args.empty()) {
        err << kUsage;
        return 2;
    }
    if (const auto answered = common::answerHelpOrVersion(args, "ufcs", kUsage, out))
        return *answered;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const Command& command : kCommands) {
        if (args[0] != command.name) continue;
        if (among(rest, "--help") || among(rest, "-h")) {
            out << command.usage;
            return 0;
        }
        const RunContext context{trace, fetch, plot};
        if (!trace) return command.run(rest, context, out, err);
        // The trace comes from the link thread: both write through one locked buffer.
        LockedStreambuf locked(err.rdbuf());
        std::ostream lockedErr(&locked);
        const int status = command.run(rest, context, out, lockedErr);
        lockedErr.flush();
        return status;
    }
    err << "ufcs: unknown command '" << args[0] << "'\n" << kUsage;
    return 2;
}

}  // namespace cli
