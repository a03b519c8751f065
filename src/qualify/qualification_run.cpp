#include "qualify/qualification_run.h"

#include <utility>

namespace qualify {

QualificationRun::QualificationRun(analyzer::Session& session, const ufcs::CaptureStore& store,
                                   common::EventLoop& loop, const common::Clock& clock, Plan plan,
                                   Observer observer, RunWaits waits)
    : session_(session),
      store_(store),
      loop_(loop),
      clock_(clock),
      plan_(std::move(plan)),
      observer_(std::move(observer)),
      waits_(waits) {}

QualificationRun::~QualificationRun() {
    *alive_ = false;
    if (timer_) loop_.stopTimer(timer_);
}

RunStep QualificationRun::step() const {
    RunStep step;
    step.total = actions_.size();
    step.done = current_;
    if (current_ < actions_.size() && (stage_ == Stage::Written || stage_ == Stage::Answer ||
                                       stage_ == Stage::Quiet || stage_ == Stage::Stopping))
        step.label = actions_[current_].label;
    return step;
}

void QualificationRun::start() {
    if (stage_ != Stage::Idle) return;
    seenCount_ = store_.count();
    lastChange_ = clock_.now();
    enter(Stage::Modes, waits_.modes);
    if (observer_.step) observer_.step(step());
    timer_ = loop_.startTimer(waits_.tick, [this] { tick(); });
}

void QualificationRun::stop(const std::string& why, bool instrumentGone) {
    if (!running() || (stopping() && !instrumentGone)) return;
    stoppedBecause_ = why;
    if (actions_.empty()) problem_ = why + "，没有做任何测试";
    const bool sending =
        stage_ == Stage::Written || stage_ == Stage::Answer || stage_ == Stage::Quiet;
    if (sending && !instrumentGone)
        enter(Stage::Stopping, waits_.answer);
    else
        finish();
}

void QualificationRun::enter(Stage stage, std::chrono::milliseconds limit) {
    stage_ = stage;
    deadline_ = clock_.now() + limit;
}

void QualificationRun::tick() {
    const auto now = clock_.now();
    if (store_.count() != seenCount_) {
        seenCount_ = store_.count();
        lastChange_ = now;
    }
    const bool late = now >= deadline_;
    const bool quiet = now - lastChange_ > waits_.quiet;
    switch (stage_) {
        case Stage::Modes:
            // The handshake and the charger's first Output_Capabilities, as the instrument
            // connected.
            if (offeredModes(store_, store_.count()) || late)
                enter(Stage::ModesQuiet, waits_.answer);
            break;
        case Stage::ModesQuiet:
            if (!quiet && !late) break;
            connectEnd_ = store_.count();
            if (auto modes = offeredModes(store_, connectEnd_)) {
                modes_ = std::move(*modes);
                actions_ = planActions(modes_, plan_);
                current_ = 0;
                nextAction();
            } else {
                problem_ = "充电器没有报告输出能力（Output_Capabilities），无法测试";
                finish();
            }
            break;
        case Stage::Written:
            if (written_ || late)
                enter(Stage::Answer,
                      actions_[current_].waitsForPower ? waits_.power : waits_.answer);
            break;
        case Stage::Answer:
            if (late || answered(store_, actions_[current_], actions_[current_].firstRecord,
                                 store_.count()))
                enter(Stage::Quiet, waits_.answer);
            break;
        case Stage::Quiet:
            if (!quiet && !late) break;
            actions_[current_].endRecord = store_.count();
            actions_[current_].ran = true;
            ++current_;
            nextAction();
            break;
        case Stage::Stopping:
            if (quiet || late) finish();
            break;
        case Stage::Idle:
        case Stage::Finished:
            break;
    }
}

void QualificationRun::nextAction() {
    if (current_ >= actions_.size()) {
        finish();
        return;
    }
    Action& action = actions_[current_];
    action.firstRecord = store_.count();
    action.sent = true;
    written_ = false;
    enter(Stage::Written, waits_.written);
    if (observer_.step) observer_.step(step());
    const auto frames = analyzer::composeSend(action.position, session_.mode(), action.pages,
                                              session_.capabilityTable(), {});
    std::weak_ptr<bool> alive = alive_;
    session_.sendFrames(frames, [this, alive](int) {
        if (auto still = alive.lock(); still && *still) written_ = true;
    });
}

void QualificationRun::finish() {
    if (timer_) loop_.stopTimer(timer_);
    timer_ = 0;
    stage_ = Stage::Finished;
    if (problem_.empty()) {
        report_ = evaluate(store_, connectEnd_, modes_, actions_, plan_);
        report_.stoppedBecause = stoppedBecause_;
    }
    if (observer_.finished) observer_.finished();
}

}  // namespace qualify
