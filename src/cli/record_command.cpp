#include <cstdio>
#include <memory>
#include <ostream>

#include "cli/cli.h"
#include "cli/output.h"
#include "cli/run_control.h"
#include "common/event_loop.h"
#include "common/file_save.h"
#include "common/format.h"
#include "recorder/journal.h"
#include "recorder/osa_file.h"
#include "recorder/test_run.h"

namespace cli {
namespace {

using namespace std::chrono_literals;

const CommandSyntax kRecordSyntax{
    "record",
    {"--simulate", "--discard-journal"},
    {{"--seconds"}, {"--append"}, {"-o"}, {"--fault"}, {kDeviceOption}}};

// The test run's questions answered for a command line; its texts on the error stream.
class CommandLineListener final : public recorder::TestRunListener {
  public:
    explicit CommandLineListener(std::ostream& err) : err_(err) {}
    Answer askToSave() override { return Answer::No; }
    bool saveDocument() override { return false; }
    bool confirmContinue() override { return true; }
    std::optional<recorder::TimedStop> readTimedStop() override { return recorder::TimedStop{}; }
    void setTimedStopLive(bool) override {}
    void showTimedStopNotice(int, int) override {}
    void showMessage(const std::string& text) override {
        err_ << screenText(text) << '\n';
        shownMessage = true;
    }
    void onNewDocument() override {}
    void onTestActive(bool, bool) override {}
    void setStatusTexts(const std::string&, const std::string&) override {}
    void resetOutputSwitch(bool) override {}
    void onRefresh(uint32_t, bool, const std::string&) override {}
    void setJournalNote(const std::string& note) override {
        if (!note.empty())
            err_ << screenText(note) << '\n';
        else if (!journalNote_.empty())
            err_ << "恢复日志已恢复写入\n";
        journalNote_ = note;
    }

    bool shownMessage = false;

  private:
    std::ostream& err_;
    std::string journalNote_;
};

class NoWakeKeeping final : public common::WakeKeeper {
  public:
    void keepAwake(bool) override {}
};

void printProgress(const recorder::TestRun& run, double elapsed, std::ostream& err) {
    const recorder::TestTotals& totals = run.totals();
    err << common::format(
        "%8.1f s  %7llu samples  %6.3f V  %6.3f A  %10.3f mAh  %11.3f mWh  "
        "missed %llu\n",
        elapsed, static_cast<unsigned long long>(totals.samples.load()),
        totals.lastMillivolts.load() * 0.001, totals.lastMilliamps.load() * 0.001,
        totals.milliampHours(), totals.milliwattHours(),
        static_cast<unsigned long long>(run.ticksWithoutSample()));
}

// A journal left by a recording that never ended holds samples nobody has
// saved: it is never overwritten. False, after telling `err`, when it is there.
bool journalPlaceFree(const std::filesystem::path& journal, bool discard, std::ostream& err) {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(journal, error))) return true;
    const std::string name = common::displayPath(journal);
    if (recorder::journalInUse(journal)) {
        err << "ufcs record: " << name << " 正被另一个正在进行的记录使用，请换一个输出文件。\n";
        return false;
    }
    if (!discard) {
        err << "ufcs record: " << name
            << " 是一次没有正常结束的记录留下的恢复日志，其中有没有保存的采样。\n"
               "请先运行 ufcs recover "
            << name << " -o FILE.osa 取回这些采样，或加 --discard-journal 丢弃它。\n";
        return false;
    }
    std::filesystem::remove(journal, error);
    if (error) {
        err << "ufcs record: 无法删除 " << name << "：" << error.message() << '\n';
        return false;
    }
    return true;
}

}  // namespace

int runRecord(const std::vector<std::string>& args, bool trace, std::ostream&, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args, kRecordSyntax, err);
    if (!parsed) return 2;
    const std::optional<double> seconds = positiveSeconds(*parsed, "record", err);
    if (!seconds) return 2;
    const std::optional<std::vector<std::string>> faults =
        simulatedFaults(*parsed, "record", kRecordFaults, err);
    if (!faults) return 2;
    if (!outputArgument(*parsed, "record", "FILE.osa", err)) return 2;
    const std::string output = parsed->value("-o");

    const std::filesystem::path journal = pathArgument(output + ".journal");
    if (!journalPlaceFree(journal, parsed->has("--discard-journal"), err)) return 1;

    // The document: new, or the file to continue.
    std::unique_ptr<recorder::SampleDocument> document;
    const std::string appended = parsed->value("--append");
    if (!appended.empty()) {
        recorder::OsaLoad load = recorder::loadOsa(pathArgument(appended));
        if (!load.document) {
            err << load.message << '\n';
            return 1;
        }
        document = std::move(load.document);
    } else {
        document = std::make_unique<recorder::SampleDocument>();
    }

    const std::unique_ptr<device::HidDevice> device =
        chosenInstrument("record", *parsed, trace, err, *faults);
    if (!device) return 1;
    common::SystemClock clock;
    common::TaskLoop loop(clock);
    common::MemoryProfile profile;
    recorder::RecorderSettings settings(profile);
    instrument::MeterLink link(*device, clock, loop);
    CommandLineListener listener(err);
    NoWakeKeeping wake;
    recorder::TestRun run(
        {*document, link, settings, loop, clock, listener, wake, {journal, {}, {}}});

    const EndingSignals signals;
    if (appended.empty())
        run.start();
    else
        run.continueTest();
    // The instrument answers on its link; its time-outs end the wait well within this.
    loop.runUntil([&] { return !run.starting(); }, 30s);
    if (!run.active()) return 1;  // the reason has been printed

    const auto startedAt = clock.now();
    const auto deadline = deadlineAfter(clock, *seconds);
    auto nextProgress = startedAt + 1s;
    while (!interrupted() && run.active() && clock.now() < deadline) {
        loop.runUntil([&] { return interrupted() || !run.active(); },
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::min(nextProgress, deadline) - clock.now()) +
                          1ms);
        if (clock.now() >= nextProgress) {
            printProgress(run, std::chrono::duration<double>(clock.now() - startedAt).count(), err);
            nextProgress += 1s;
        }
    }
    const bool faulted = !run.active();  // a fault stopped it and said why
    if (run.active()) run.stop();

    const common::FileResult saved =
        recorder::saveOsa(*document, pathArgument(output), endingSaveControl(err));
    if (!saved.ok) {
        const common::FallbackSave fallback = recorder::saveOsaToFallback(*document, saved.message);
        err << fallback.message << '\n';
        // Kept until the samples are safe somewhere.
        if (fallback.path)
            run.documentSaved();
        else
            err << "采样仍在恢复日志 " << common::displayPath(journal) << " 中\n";
        return 1;
    }
    run.documentSaved();
    printProgress(run, std::chrono::duration<double>(clock.now() - startedAt).count(), err);
    err << "已保存 " << document->largestCount() << " 个采样到 " << output << '\n';
    return faulted ? 1 : 0;
}

int runRecover(const std::vector<std::string>& args, bool, std::ostream&, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"recover", {}, {{"-o"}}, {"JOURNAL"}}, err);
    if (!parsed) return 2;
    const std::string output = parsed->value("-o");
    if (output.empty()) {
        reportBadArgument("recover", "missing -o FILE.osa", err);
        return 2;
    }
    recorder::JournalRecovery recovery =
        recorder::recoverJournal(pathArgument(parsed->positional[0]));
    if (!recovery.document) {
        err << recovery.message << '\n';
        return 1;
    }
    if (!recovery.message.empty()) err << recovery.message << '\n';
    const common::FileResult saved = recorder::saveOsa(*recovery.document, pathArgument(output));
    if (!saved.ok) {
        err << saved.message << '\n';
        return 1;
    }
    err << "已恢复 " << recovery.samples << " 个采样到 " << output << '\n';
    return 0;
}

}  // namespace cli
