#include "recorder/test_run.h"

#include <algorithm>
#include <chrono>

#include "common/file_save.h"
#include "common/format.h"

namespace recorder {

using namespace std::chrono_literals;

namespace {

constexpr auto kRefreshPeriod = 400ms;
constexpr auto kContinuedRefreshPeriod = 500ms;
constexpr auto kJournalFlushPeriod = 1s;

}  // namespace

void TestTotals::reset(uint32_t periodMs, std::time_t now) {
    samples = 0;
    milliampSum = 0;
    milliwattMilliSum = 0;
    lastMillivolts = 0;
    lastMilliamps = 0;
    periodMilliseconds = periodMs;
    startedAt = now;
}

void TestTotals::add(uint16_t millivolts, uint16_t milliamps) {
    // One writer (the link thread): loads and stores need no read-modify-write.
    samples.store(samples.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    milliampSum.store(milliampSum.load(std::memory_order_relaxed) + milliamps,
                      std::memory_order_relaxed);
    milliwattMilliSum.store(
        milliwattMilliSum.load(std::memory_order_relaxed) + uint64_t{millivolts} * milliamps,
        std::memory_order_relaxed);
    lastMillivolts.store(millivolts, std::memory_order_relaxed);
    lastMilliamps.store(milliamps, std::memory_order_relaxed);
}

double TestTotals::milliampHours() const {
    // mA × ms, then to hours: exact integers up to the last division.
    return static_cast<double>(milliampSum.load() * periodMilliseconds) / 3'600'000.0;
}

double TestTotals::milliwattHours() const {
    // mV × mA is µW; × ms / 3,600,000 is µWh; / 1000 is mWh.
    return static_cast<double>(milliwattMilliSum.load()) * periodMilliseconds / 3.6e9;
}

PanelTotals TestTotals::panelTotals(uint64_t missedSamples) const {
    return {static_cast<double>(samples.load()) * periodMilliseconds / 1000.0, milliwattHours(),
            milliampHours(), missedSamples};
}

std::string timedStopText(long long remaining) {
    if (remaining < 0) remaining = 0;
    const long long days = remaining / 86400;
    const int hours = static_cast<int>(remaining / 3600 % 24);
    const int minutes = static_cast<int>(remaining / 60 % 60);
    const int seconds = static_cast<int>(remaining % 60);
    if (days > 0)
        return common::format("定时：%2d:%d:%02d:%02d", static_cast<int>(days), hours, minutes,
                              seconds);
    return common::format("定时：%d:%02d:%02d", static_cast<int>(remaining / 3600), minutes,
                          seconds);
}

TestRun::TestRun(Parts parts)
    : document_(parts.document),
      link_(parts.link),
      settings_(parts.settings),
      loop_(parts.loop),
      clock_(parts.clock),
      listener_(parts.listener),
      wake_(parts.wake),
      journalPlace_(std::move(parts.journal)) {}

TestRun::~TestRun() {
    if (active_ || starting()) stop();
    journal_.reset();  // the file stays: the samples were never saved
}

bool TestRun::settleModified() {
    if (!document_.modified.load()) return true;
    switch (listener_.askToSave()) {
        case TestRunListener::Answer::Yes:
            // A save that failed must not let the samples go.
            return listener_.saveDocument();
        case TestRunListener::Answer::No:
            return true;
        case TestRunListener::Answer::Cancel:
            return false;
    }
    return false;
}

void TestRun::documentSaved() {
    if (journal_) journal_->remove();
    journal_.reset();
    if (recovered_) recovered_->release(true);
    recovered_.reset();
}

void TestRun::holdRecovered(std::unique_ptr<JournalHold> held) {
    if (recovered_) recovered_->release(true);
    recovered_ = std::move(held);
}

void TestRun::start() {
    if (active_ || starting() || !settleModified()) return;
    begin(true);
}

void TestRun::continueTest() {
    if (active_ || starting()) return;
    if (document_.displayedCount() > 0 && !listener_.confirmContinue()) return;
    begin(false);
}

void TestRun::begin(bool fresh) {
    if (starting()) return;  // the instrument is still answering the last start
    // The fields first: a wrong one is told at once, and nothing is opened.
    const std::optional<TimedStop> timed = listener_.readTimedStop();
    if (!timed) return;
    if (link_.connected()) {
        proceed(fresh, *timed, std::nullopt);
        return;
    }
    // The connect runs on the instrument's link; the test goes on when it answers.
    link_.connect(
        [this, fresh, timed = *timed](const instrument::MeterLink::Connection& connection) {
            if (!connection.ok) {
                listener_.showMessage(connection.message);
                return;
            }
            proceed(fresh, timed, static_cast<uint16_t>(connection.currentCalibrated ? 1 : 0));
        });
}

void TestRun::proceed(bool fresh, const TimedStop& timed, std::optional<uint16_t> calibrated) {
    // The test starts: only now is the last document let go.
    if (calibrated) document_.currentCalibrated = *calibrated;
    if (fresh) {
        documentSaved();  // its journal, saved or dropped by the user by now
        document_.reset();
        document_.modified.store(false);
        document_.period = RecorderSettings::samplingPeriod();
        document_.displayName = "无标题";
        listener_.onNewDocument();
    }
    startJournal();
    active_ = true;
    timed_ = timed;
    if (timed_.on) listener_.showTimedStopNotice(timed_.hours, timed_.minutes);
    settings_.saveTimedStop(timed_);
    listener_.setTimedStopLive(true);

    // A continued test goes on in the channels the document holds, so they stay the same length.
    const ChannelFlags holding = document_.channelsHoldingSamples();
    const bool anyHeld = std::find(holding.begin(), holding.end(), true) != holding.end();
    enabled_ = !fresh && anyHeld ? holding : settings_.channelsEnabled();
    const auto period = std::chrono::milliseconds(static_cast<int>(document_.period * 1000));
    totals_.reset(static_cast<uint32_t>(period.count()), std::time(nullptr));
    link_.startSampling(
        period, [this](instrument::MeterSample sample) { return keepSample(sample); },
        [this](int code) { onFault(code); });
    startedAt_ = clock_.now();
    endsAt_ = startedAt_ + std::chrono::seconds(timed_.seconds());
    shownCount_ = document_.displayedCount();
    refreshTimer_ =
        loop_.startTimer(fresh ? kRefreshPeriod : kContinuedRefreshPeriod, [this] { refresh(); });
    armTimedStop();
    listener_.onTestActive(true, fresh);
    wake_.keepAwake(true);
}

// A journal that cannot be made does not stop the test: the user is told
// that this test is not protected against a crash.
void TestRun::startJournal() {
    journalFailureTold_ = false;
    if (journalPlace_.file.empty() && journalPlace_.folder.empty()) return;
    std::string error;
    if (!journal_) {
        journal_ =
            journalPlace_.file.empty()
                ? Journal::createIn(journalPlace_.folder, document_, error, journalPlace_.ops)
                : Journal::create(journalPlace_.file, document_, error, journalPlace_.ops);
    }
    if (!journal_) {
        listener_.setJournalNote("本次测试没有恢复日志，程序崩溃时采样会丢失：" + error);
        return;
    }
    if (recovered_) journal_->replaces(std::move(recovered_));
    listener_.setJournalNote("");
    journal_->resume(kJournalFlushPeriod);
}

// A failed write is told at once, and retried by the journal every second.
void TestRun::watchJournal() {
    if (!journal_) return;
    const Journal::Health health = journal_->health();
    if (health.failing && !journalFailureTold_) {
        journalFailureTold_ = true;
        listener_.setJournalNote("恢复日志写入失败，正在重试：" + health.error);
        listener_.showMessage(common::format(
            "恢复日志 %s 写入失败（%s）。\n测试继续，日志每秒重试；在此期间程序崩溃会丢失"
            "尚未写入日志的采样。",
            common::displayPath(journal_->path()).c_str(), health.error.c_str()));
    } else if (!health.failing && journalFailureTold_) {
        journalFailureTold_ = false;
        listener_.setJournalNote("");
    }
}

bool TestRun::keepSample(instrument::MeterSample sample) {
    totals_.add(sample.millivolts, sample.milliamps);
    return document_.appendSample(sample.millivolts, sample.milliamps, enabled_);
}

void TestRun::refresh() {
    const uint32_t count = document_.displayedCount();
    const bool changed = count != shownCount_;
    shownCount_ = count;
    std::string timedText;
    if (timed_.on) {
        timedText = timedStopText(
            std::chrono::duration_cast<std::chrono::seconds>(endsAt_ - clock_.now()).count());
    }
    listener_.onRefresh(count, changed, timedText);
    watchJournal();
}

void TestRun::armTimedStop() {
    if (timedStopTimer_) loop_.stopTimer(timedStopTimer_);
    timedStopTimer_ = 0;
    if (!timed_.on) return;
    const auto left =
        std::max(std::chrono::milliseconds(0),
                 std::chrono::duration_cast<std::chrono::milliseconds>(endsAt_ - clock_.now()));
    timedStopTimer_ = loop_.startTimer(left, [this] {
        stop();
        listener_.setStatusTexts(std::string(kStatusTimedStop), std::string(kStatusTimedStop));
    });
}

void TestRun::changeTimedStop(const TimedStop& timed) {
    settings_.saveTimedStop(timed);
    if (!active_) return;
    timed_ = timed;
    endsAt_ = startedAt_ + std::chrono::seconds(timed_.seconds());
    armTimedStop();
    refresh();  // the panel shows the new time left at once
}

void TestRun::stopTimers() {
    if (refreshTimer_) loop_.stopTimer(refreshTimer_);
    if (timedStopTimer_) loop_.stopTimer(timedStopTimer_);
    refreshTimer_ = timedStopTimer_ = 0;
}

void TestRun::stop(bool variantB) {
    stopTimers();
    if (link_.connected() || variantB) listener_.resetOutputSwitch(variantB);
    link_.stop();  // the ticks end before StopMeasuring goes out and the device closes
    if (journal_) journal_->pause();
    listener_.setStatusTexts("", std::string(kStatusStopped));
    listener_.setTimedStopLive(false);
    const bool wasActive = active_;
    active_ = false;
    if (wasActive) listener_.onTestActive(false, false);
    wake_.keepAwake(false);
}

void TestRun::onFault(int code) {
    if (!active_) return;
    const char* text = code == instrument::kFaultRemoved     ? kFaultRemovedText.data()
                       : code == instrument::kFaultNoSamples ? kFaultNoSamplesText.data()
                       : code == instrument::kFaultStoreFull ? kFaultStoreFullText.data()
                                                             : nullptr;
    if (!text) return;
    stop(true);
    listener_.showMessage(text);
}

bool TestRun::prepareToClose() {
    if (!document_.modified.load()) {
        if (active_ || starting()) stop();
        return true;
    }
    // Asked with any test still running; Yes stops it before saving.
    const TestRunListener::Answer answer = listener_.askToSave();
    if (answer == TestRunListener::Answer::Cancel) return false;
    if (active_ || starting()) stop();
    if (answer == TestRunListener::Answer::Yes) return listener_.saveDocument();
    document_.modified.store(false);
    documentSaved();
    return true;
}

}  // namespace recorder
