#pragma once
// A qualification run driven by its owner's event loop, so that neither the
// command line nor the analyzer's window waits in a loop of its own: once the
// instrument listens as the charging device, the run waits for the charger's
// output modes, then sends the plan's actions one by one, each when the
// previous one's answer is in and the bus has gone quiet, and judges the
// capture at the end. A run stopped early judges what it reached and lists
// the rest as not reached.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/session.h"
#include "common/clock.h"
#include "common/event_loop.h"
#include "qualify/qualification.h"
#include "ufcs/capture_store.h"

namespace qualify {

// Where a run is: `done` of `total` sends made, the one under way.
struct RunStep {
    std::size_t done = 0;
    std::size_t total = 0;
    std::string label;  // "M2.high"; empty while the charger's modes are awaited
};

// How long a run waits: the charger's first modes, a send's answer, the quiet after it.
struct RunWaits {
    std::chrono::milliseconds modes{5000};
    std::chrono::milliseconds written{5000};
    std::chrono::milliseconds power{1500};  // past tPowerSupply for a Request
    std::chrono::milliseconds answer{500};  // past tSenderResponse for a question
    std::chrono::milliseconds quiet{60};    // the ACKs after an answer are in
    std::chrono::milliseconds tick{5};
};

class QualificationRun {
  public:
    struct Observer {
        std::function<void(const RunStep&)> step;  // as each send starts
        std::function<void()> finished;            // once, with the report (or a problem) ready
    };
    QualificationRun(analyzer::Session& session, const ufcs::CaptureStore& store,
                     common::EventLoop& loop, const common::Clock& clock, Plan plan,
                     Observer observer, RunWaits waits = {});
    ~QualificationRun();
    QualificationRun(const QualificationRun&) = delete;
    QualificationRun& operator=(const QualificationRun&) = delete;

    // Begins: the session listens (or is about to) as the charging device.
    void start();
    // Ends the run and judges what it reached; `why` says why it stopped. A
    // send under way keeps the bus until it is quiet (its ACKs in), unless
    // the instrument has gone (`instrumentGone`): then the run ends at once.
    void stop(const std::string& why, bool instrumentGone = false);

    bool running() const { return stage_ != Stage::Idle && stage_ != Stage::Finished; }
    bool stopping() const { return stage_ == Stage::Stopping; }
    bool finished() const { return stage_ == Stage::Finished; }
    // After finished(): the reason nothing could be judged, or empty.
    const std::string& problem() const { return problem_; }
    const QualificationReport& report() const { return report_; }
    const std::vector<Action>& actions() const { return actions_; }
    RunStep step() const;

  private:
    enum class Stage { Idle, Modes, ModesQuiet, Written, Answer, Quiet, Stopping, Finished };

    void tick();
    void enter(Stage stage, std::chrono::milliseconds limit);
    void nextAction();
    void finish();

    analyzer::Session& session_;
    const ufcs::CaptureStore& store_;
    common::EventLoop& loop_;
    const common::Clock& clock_;
    Plan plan_;
    Observer observer_;
    RunWaits waits_;

    Stage stage_ = Stage::Idle;
    common::Clock::TimePoint deadline_{};
    common::Clock::TimePoint lastChange_{};  // when the store last grew
    uint32_t seenCount_ = 0;
    common::TimerId timer_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool written_ = false;

    uint32_t connectEnd_ = 0;
    std::vector<ModeOffer> modes_;
    std::vector<Action> actions_;
    std::size_t current_ = 0;
    std::string stoppedBecause_;
    std::string problem_;
    QualificationReport report_;
};

}  // namespace qualify
