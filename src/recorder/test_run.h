#pragma once
// One recording run and the decisions around it: start, continue, stop (also
// timed and on a fault), the refresh tick, the status texts, and the
// questions to the user, asked through TestRunListener so the whole flow runs
// without a window. Owner thread only; the samples arrive on the link thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.h"
#include "common/event_loop.h"
#include "common/wake_keeper.h"
#include "instrument/meter_link.h"
#include "recorder/journal.h"
#include "recorder/sample_document.h"
#include "recorder/settings.h"
#include "recorder/waveform.h"

namespace recorder {

inline constexpr std::string_view kStatusStopped = "测试停止";
inline constexpr std::string_view kStatusTimedStop = "定时停止";
inline constexpr std::string_view kFaultRemovedText = "设备非正常中断!";
inline constexpr std::string_view kFaultNoSamplesText = "设备传输中断!";
inline constexpr std::string_view kFaultStoreFullText = "内存不足，测试已停止!";

// What the window (or the command line) answers and shows.
class TestRunListener {
  public:
    enum class Answer { Yes, No, Cancel };
    virtual ~TestRunListener() = default;
    virtual Answer askToSave() = 0;      // "\n\n      是否存盘?\n "
    virtual bool saveDocument() = 0;     // the document's save command; true when saved
    virtual bool confirmContinue() = 0;  // "\n\n      测试程序将接着继续测试     \n "
    // The timed-stop panel's fields, validated (the panel has told the user
    // what is wrong when it returns nothing).
    virtual std::optional<TimedStop> readTimedStop() = 0;
    // A test runs (true): a change of the timed stop applies to it at once
    // (TestRun::changeTimedStop).
    virtual void setTimedStopLive(bool live) = 0;
    virtual void showTimedStopNotice(int hours, int minutes) = 0;
    virtual void showMessage(const std::string& text) = 0;
    virtual void onNewDocument() = 0;
    // A test began (`fresh` for a new test, not a continued one) or ended.
    virtual void onTestActive(bool active, bool fresh) = 0;
    virtual void setStatusTexts(const std::string& first, const std::string& second) = 0;
    // The output switch's radio pair goes back to 关; `disable` also disables it.
    virtual void resetOutputSwitch(bool disable) = 0;
    // The refresh tick: the displayed count, whether it changed since the last
    // tick, and the timed stop's remaining time (empty when it is off).
    virtual void onRefresh(uint32_t displayedCount, bool changed, const std::string& timedText) = 0;
    // How the test is protected against a crash: empty while its journal
    // writes, else what is wrong (no journal, or writes failing and retried).
    virtual void setJournalNote(const std::string& note) = 0;
};

// Where a test's recovery journal goes: this file (ufcs record: OUT.osa.journal),
// else a new file in this folder for each test (the recorder's data folder);
// neither: no journal.
struct JournalPlace {
    std::filesystem::path file;
    std::filesystem::path folder;
    JournalFileOps ops = {};  // the system's file calls unless a test replaces them
};

// Charge and energy since the test started, counted in integers so they never drift.
struct TestTotals {
    std::atomic<uint64_t> samples{0};
    std::atomic<uint64_t> milliampSum{0};        // sum of mA
    std::atomic<uint64_t> milliwattMilliSum{0};  // sum of mV × mA
    std::atomic<uint32_t> lastMillivolts{0};
    std::atomic<uint32_t> lastMilliamps{0};
    std::time_t startedAt = 0;  // wall clock
    uint32_t periodMilliseconds = 100;

    void reset(uint32_t periodMs, std::time_t now);
    void add(uint16_t millivolts, uint16_t milliamps);
    double milliampHours() const;
    double milliwattHours() const;
    PanelTotals panelTotals(uint64_t missedSamples) const;
};

// "定时：h:mm:ss", or with days when a day or more remains.
std::string timedStopText(long long remainingSeconds);

class TestRun {
  public:
    struct Parts {
        SampleDocument& document;
        instrument::MeterLink& link;
        RecorderSettings& settings;
        common::EventLoop& loop;
        common::Clock& clock;
        TestRunListener& listener;
        common::WakeKeeper& wake;
        JournalPlace journal;
    };
    explicit TestRun(Parts parts);
    ~TestRun();

    // 开始新测试 and 继续测试: the instrument is connected on its link first
    // (unless it already is), so the test becomes active when it answers.
    void start();
    void continueTest();
    void stop(bool variantB =
                  false);  // 停止测试; variant B (Ctrl+T, faults) also disables the output switch
    void onFault(int code);

    // Before the document is dropped (new, open): asks about unsaved samples.
    // False when the user stays (Cancel, or a save that failed). After No the
    // samples and their journal stay until the caller has replaced the
    // document (and calls documentSaved()), so a failed open loses nothing.
    bool settleModified();
    // The document was saved, or is about to be replaced (new, opened) or
    // dropped: its journal goes. Call it before the samples change: the
    // journal's thread reads them until then.
    void documentSaved();
    // A recovered document's journal, held until the document is saved or
    // dropped; a test continued on it writes a journal of its own, which
    // takes its place.
    void holdRecovered(std::unique_ptr<JournalHold> held);
    // Closing the program: settles the document and stops any test. False: stay open.
    bool prepareToClose();
    // The timed stop changed while the test runs: it counts from the test's
    // start (a time already past stops the test now); off cancels it.
    void changeTimedStop(const TimedStop& timed);

    bool active() const { return active_; }
    // A start waits for the instrument's answer (a stop drops it).
    bool starting() const { return link_.connecting(); }
    const TestTotals& totals() const { return totals_; }
    uint64_t ticksWithoutSample() const { return link_.ticksWithoutSample(); }
    bool canContinue() const { return !active_ && document_.displayedCount() > 0; }

  private:
    void begin(bool fresh);
    // The instrument answered (or was connected already): the test starts.
    void proceed(bool fresh, const TimedStop& timed, std::optional<uint16_t> calibrated);
    void startJournal();
    void refresh();
    void watchJournal();
    void stopTimers();
    // The timer of the timed stop, ending at endsAt_ (none when it is off).
    void armTimedStop();
    bool keepSample(instrument::MeterSample sample);

    SampleDocument& document_;
    instrument::MeterLink& link_;
    RecorderSettings& settings_;
    common::EventLoop& loop_;
    common::Clock& clock_;
    TestRunListener& listener_;
    common::WakeKeeper& wake_;
    JournalPlace journalPlace_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<JournalHold> recovered_;
    bool journalFailureTold_ = false;
    ChannelFlags enabled_{};
    TestTotals totals_;
    bool active_ = false;
    TimedStop timed_;
    common::Clock::TimePoint startedAt_{};
    common::Clock::TimePoint endsAt_{};
    common::TimerId refreshTimer_ = 0;
    common::TimerId timedStopTimer_ = 0;
    uint32_t shownCount_ = 0;
};

}  // namespace recorder
