#include "analyzer/ui/qualification_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <variant>

#include "qt/text.h"
#include "qualify/plan_file.h"
#include "qualify/qualification_report.h"

namespace analyzer::ui {
namespace {

enum Column { kId, kVerdict, kTitle, kMeasured, kLimit, kClause, kColumnCount };
// A long title must not push the measured value and the limit out of sight.
constexpr int kWidestTitle = 330;

QColor verdictColour(qualify::Verdict verdict) {
    switch (verdict) {
        case qualify::Verdict::Pass:
            return QColor(0xd8, 0xf5, 0xd8);
        case qualify::Verdict::Fail:
            return QColor(0xf8, 0xd0, 0xd0);
        case qualify::Verdict::NotMeasurable:
            break;
    }
    return QColor(0xee, 0xee, 0xee);
}

QString rowsText(const std::vector<uint32_t>& rows) {
    QStringList numbers;
    for (const uint32_t row : rows)
        numbers << QString::number(row);
    return numbers.join(QStringLiteral("、"));
}

QString titleWithReason(const qualify::TestResult& test) {
    QString text = QString::fromStdString(test.title);
    if (!test.reason.empty() && test.verdict != qualify::Verdict::Pass)
        text += QStringLiteral("：") + QString::fromStdString(test.reason);
    return text;
}

}  // namespace

QualificationDialog::QualificationDialog(QWidget* parent)
    : QDialog(parent),
      planName_(new QLabel(this)),
      plan_(new QPushButton(QStringLiteral("测试计划…"), this)),
      start_(new QPushButton(QStringLiteral("开始测试"), this)),
      save_(new QPushButton(QStringLiteral("保存报告…"), this)),
      progress_(new QProgressBar(this)),
      step_(new QLabel(this)),
      summary_(new QLabel(this)),
      results_(new QTableWidget(0, kColumnCount, this)) {
    setWindowTitle(QStringLiteral("充电器测试"));
    resize(980, 620);
    for (QPushButton* button : {plan_, start_, save_})
        button->setAutoDefault(false);
    save_->setEnabled(false);
    auto* intro = new QLabel(
        QStringLiteral(
            "仪器作为手机（充电设备模式）向充电器请求每个输出模式的最低、最高电压和最大电流，"
            "并按 UFCS 标准的限值判定。开始时会重新开始捕获。"),
        this);
    intro->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->setWordWrap(true);
    results_->setHorizontalHeaderLabels({QStringLiteral("项目"), QStringLiteral("结果"),
                                         QStringLiteral("内容"), QStringLiteral("测得"),
                                         QStringLiteral("限值"), QStringLiteral("条款")});
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setSelectionMode(QAbstractItemView::SingleSelection);
    results_->verticalHeader()->hide();
    results_->horizontalHeader()->setStretchLastSection(true);
    results_->setWordWrap(false);
    connect(results_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        const std::vector<uint32_t> rows = rowsOf(row);
        if (!rows.empty()) emit recordWanted(rows.front());
    });
    connect(start_, &QPushButton::clicked, this, [this] {
        if (running_)
            emit stopClicked();
        else
            emit startClicked();
    });
    connect(plan_, &QPushButton::clicked, this, &QualificationDialog::planClicked);
    connect(save_, &QPushButton::clicked, this, &QualificationDialog::saveClicked);

    auto* planRow = new QHBoxLayout;
    planRow->addWidget(new QLabel(QStringLiteral("测试计划："), this));
    planRow->addWidget(planName_, 1);
    planRow->addWidget(plan_);
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(start_);
    runRow->addWidget(progress_, 1);
    runRow->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(planRow);
    layout->addLayout(runRow);
    layout->addWidget(step_);
    layout->addWidget(summary_);
    layout->addWidget(results_, 1);
    layout->addWidget(new QLabel(QStringLiteral("双击一项，在列表中选中它的第一条记录。"), this));
    setPlanName(QStringLiteral("内置计划（UFCS 标准的限值）"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
}

void QualificationDialog::setPlanName(const QString& name) {
    planName_->setText(name);
}

void QualificationDialog::setRunning(bool running) {
    running_ = running;
    start_->setText(running ? QStringLiteral("停止测试") : QStringLiteral("开始测试"));
    plan_->setEnabled(!running);
    if (running) save_->setEnabled(false);
}

void QualificationDialog::showStep(const qualify::RunStep& step) {
    progress_->setRange(0, static_cast<int>(std::max<std::size_t>(step.total, 1)));
    progress_->setValue(static_cast<int>(step.done));
    step_->setText(step.label.empty() ? QStringLiteral("正在等待充电器的输出能力……")
                                      : QStringLiteral("第 %1/%2 步：%3")
                                            .arg(step.done + 1)
                                            .arg(step.total)
                                            .arg(QString::fromStdString(step.label)));
}

void QualificationDialog::clearResults() {
    results_->setRowCount(0);
    summary_->clear();
    step_->clear();
    progress_->setRange(0, 1);
    progress_->setValue(0);
}

void QualificationDialog::showProblem(const QString& text) {
    summary_->setText(text);
    step_->clear();
}

void QualificationDialog::showReport(const qualify::QualificationReport& report) {
    // A stopped run's bar stays where it stopped.
    if (report.complete()) progress_->setValue(progress_->maximum());
    step_->setText(report.complete() ? QStringLiteral("测试完成")
                                     : QStringLiteral("测试没有做完：") +
                                           QString::fromStdString(report.stoppedBecause));
    QString summary = QStringLiteral("结论：") + qt_adapters::fromStd(report.overallVerdictText()) +
                      QStringLiteral("。") + QString::fromStdString(report.countsText()) +
                      QStringLiteral("。");
    if (!report.deviceInfo.empty())
        summary += QStringLiteral("充电器：") + QString::fromStdString(report.deviceInfo);
    summary_->setText(summary);
    results_->setRowCount(static_cast<int>(report.tests.size()));
    for (int row = 0; row < static_cast<int>(report.tests.size()); ++row) {
        const qualify::TestResult& test = report.tests[static_cast<std::size_t>(row)];
        const QString cells[kColumnCount] = {
            QString::fromStdString(test.id),
            qt_adapters::fromStd(qualify::verdictName(test.verdict)),
            titleWithReason(test),
            QString::fromStdString(test.measured),
            QString::fromStdString(test.limit),
            QString::fromStdString(test.clause)};
        QVariantList rows;
        for (const uint32_t record : test.rows)
            rows << QVariant::fromValue(record);
        const QString tip = test.rows.empty() ? QStringLiteral("没有记录")
                                              : QStringLiteral("记录 ") + rowsText(test.rows);
        for (int column = 0; column < kColumnCount; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setBackground(verdictColour(test.verdict));
            item->setToolTip(column == kTitle ? cells[column] + QStringLiteral("\n") + tip : tip);
            if (column == kId) item->setData(Qt::UserRole, rows);
            results_->setItem(row, column, item);
        }
    }
    results_->resizeColumnsToContents();
    results_->resizeRowsToContents();
    if (results_->columnWidth(kTitle) > kWidestTitle)
        results_->setColumnWidth(kTitle, kWidestTitle);
    save_->setEnabled(true);
}

std::vector<uint32_t> QualificationDialog::rowsOf(int row) const {
    std::vector<uint32_t> rows;
    if (const QTableWidgetItem* item = results_->item(row, kId)) {
        for (const QVariant& value : item->data(Qt::UserRole).toList())
            rows.push_back(value.toUInt());
    }
    return rows;
}

// --- the run ---------------------------------------------------------------

ChargerQualification::ChargerQualification(Session& session, const ufcs::CaptureStore& store,
                                           common::EventLoop& loop, const common::Clock& clock,
                                           QString instrumentName, QWidget* window, Hooks hooks)
    : QObject(window),
      session_(session),
      store_(store),
      loop_(loop),
      clock_(clock),
      instrumentName_(std::move(instrumentName)),
      hooks_(std::move(hooks)),
      dialog_(new QualificationDialog(window)) {
    connect(dialog_, &QualificationDialog::startClicked, this, &ChargerQualification::start);
    connect(dialog_, &QualificationDialog::stopClicked, this, &ChargerQualification::stop);
    connect(dialog_, &QualificationDialog::planClicked, this, [this] {
        if (const QString path = hooks_.choosePlanFile(); !path.isEmpty()) loadPlan(path);
    });
    connect(dialog_, &QualificationDialog::saveClicked, this, [this] {
        if (const QString folder = hooks_.chooseReportFolder(); !folder.isEmpty())
            saveReportTo(folder);
    });
    connect(dialog_, &QualificationDialog::recordWanted, this,
            [this](uint32_t record) { hooks_.showRecord(record); });
}

ChargerQualification::~ChargerQualification() = default;

void ChargerQualification::show() {
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

bool ChargerQualification::loadPlan(const QString& path) {
    std::variant<qualify::Plan, std::string> plan =
        qualify::loadPlanFile(qt_adapters::pathOf(path));
    const QString name = qt_adapters::fromPath(qt_adapters::pathOf(path).filename());
    if (const std::string* problem = std::get_if<std::string>(&plan)) {
        hooks_.message(QStringLiteral("无法使用测试计划 ") + name + QStringLiteral("：") +
                       QString::fromStdString(*problem));
        return false;
    }
    plan_ = std::get<qualify::Plan>(std::move(plan));
    dialog_->setPlanName(name);
    return true;
}

void ChargerQualification::start() {
    if (running()) return;
    if (hooks_.capturing()) {
        hooks_.message(QStringLiteral("请先停止监听，再开始充电器测试。"));
        return;
    }
    if (!hooks_.startCapture()) return;
    // The run begins once the new capture has started: until then the store
    // still holds the last one, whose modes it must not take for this charger's.
    connecting_ = true;
    run_.reset();
    dialog_->clearResults();
    dialog_->showStep({});
    dialog_->setRunning(true);
    startedText_ = qualify::localDateTimeNow();
    startedAt_ = clock_.now();
    hooks_.runChanged();
}

void ChargerQualification::captureStarted() {
    if (!connecting_) return;
    connecting_ = false;
    run_ = std::make_unique<qualify::QualificationRun>(
        session_, store_, loop_, clock_, plan_,
        qualify::QualificationRun::Observer{
            [this](const qualify::RunStep& step) { dialog_->showStep(step); },
            // Queued: the run must not be replaced from inside its own callback.
            [this] {
                QMetaObject::invokeMethod(this, &ChargerQualification::finished,
                                          Qt::QueuedConnection);
            }});
    run_->start();
}

void ChargerQualification::endWithoutRun(const QString& why) {
    connecting_ = false;
    dialog_->setRunning(false);
    dialog_->showProblem(why + QStringLiteral("，没有做任何测试"));
    hooks_.runChanged();
}

void ChargerQualification::stop() {
    if (connecting_) {
        endWithoutRun(QStringLiteral("测试被停止"));
        hooks_.stopCapture();  // the connection under way too
    } else if (run_ && run_->running()) {
        run_->stop("测试被停止");
    }
}

void ChargerQualification::listeningEnded() {
    if (connecting_)
        endWithoutRun(QStringLiteral("仪器没有连上"));
    else if (run_ && run_->running())
        run_->stop("监听停止了（仪器没有连上，或监听被停止）", true);
}

void ChargerQualification::finished() {
    if (!run_ || !run_->finished()) return;
    seconds_ = std::chrono::duration<double>(clock_.now() - startedAt_).count();
    dialog_->setRunning(false);
    if (!run_->problem().empty())
        dialog_->showProblem(QString::fromStdString(run_->problem()));
    else
        dialog_->showReport(run_->report());
    if (hooks_.capturing()) hooks_.stopCapture();
    hooks_.runChanged();
}

bool ChargerQualification::saveReportTo(const QString& folder) {
    if (!run_ || !run_->finished() || !run_->problem().empty()) return false;
    qualify::RunFacts facts;
    facts.started = startedText_;
    facts.instrument = instrumentName_.toStdString();
    facts.seconds = seconds_;
    const common::FileResult written =
        qualify::writeReportFolder(qt_adapters::pathOf(folder), store_, run_->report(), facts);
    hooks_.message(written.ok ? QStringLiteral("报告已保存到 ") + folder
                              : QString::fromStdString(written.message));
    return written.ok;
}

}  // namespace analyzer::ui
