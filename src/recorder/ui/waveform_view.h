#pragma once
// The recorder's view: voltage and current against time in one plot, the
// zoom panel, the read-outs and status texts on the right, the cursor
// read-out, zoom at a point, and the zone lines that measure between them.
// The arithmetic lives in recorder/waveform.h; this class paints and handles
// the mouse.

#include <QWidget>
#include <optional>
#include <vector>

#include "plot/sampled_series.h"
#include "recorder/test_run.h"
#include "recorder/waveform.h"
#include "widgets/plot_painter.h"

class QLabel;
class QScrollBar;
class QSlider;
class QToolButton;

namespace recorder::ui {

class WaveformView final : public QWidget {
    Q_OBJECT
  public:
    explicit WaveformView(SampleDocument& document, QWidget* parent = nullptr);

    WaveformState& state() { return state_; }
    const WaveformState& state() const { return state_; }
    // After samples arrived (the refresh tick): tracking, auto-scroll, repaint.
    void samplesArrived();
    // A new or loaded document: summaries dropped, scroll positions reset.
    void documentReplaced(bool fitAll);
    void setStatusTexts(const QString& first, const QString& second);
    void setTotals(const std::optional<PanelTotals>& totals);  // nothing: no test shown
    const std::optional<PanelTotals>& totals() const { return totals_; }
    // What is wrong with the test's crash protection (empty: nothing), shown in the panel.
    void setJournalNote(const QString& note);
    QString journalNote() const { return journalNote_; }
    void setTimeFormatSeconds(bool secondsOnly) { secondsOnly_ = secondsOnly; }
    // After the state was changed from outside: the panel, the scroll bar and the plot follow.
    void stateChanged() { updatePanel(); }
    // The zoom panel's three scale texts: voltage, current, time.
    QStringList scaleTexts() const;
    // A panel of the window (timed stop, output switch), stacked at the panel's foot.
    void addPanelWidget(QWidget* widget);
    // The scroll bar under the view that moves through time; the view keeps it
    // in step and hands it the left and right arrow keys.
    void setTimeScrollBar(QScrollBar* bar);

    // The commands of the 工具 menu.
    void zoomTime(bool in);
    void zoomVertical(Axis axis, bool in);
    void fitAll();
    void setGrid(bool shown);
    bool gridShown() const { return grid_; }
    void setVoltageOnTop(bool onTop);
    bool voltageOnTop() const { return voltageOnTop_; }
    void showTimeZoneLines(bool shown);
    void showVoltageZoneLines(bool shown);
    bool timeZoneLinesShown() const { return timeLines_.has_value(); }

    // The read-out under the cursor at `position` (empty when there is none).
    QString readoutAt(QPoint position) const;
    // The zone measurement between the time lines, as the right panel shows it.
    QString zoneText() const;
    // The samples between the time lines, when they are shown.
    std::optional<SampleSpan> zoneSpan() const;
    std::optional<std::pair<double, double>> timeLines() const { return timeLines_; }
    void setTimeLines(double firstSample, double secondSample) {
        timeLines_ = {firstSample, secondSample};
        update();
    }
    // 对比: another test drawn dimmed on the same axes, its sample i where this
    // test's sample i + offset is (0: both start together); Ctrl+drag moves it.
    // The zone lines then measure both, and the difference. None: no reference.
    void setReference(const SampleDocument* reference, const QString& name);
    const SampleDocument* reference() const { return reference_; }
    double referenceOffset() const { return referenceOffset_; }
    void setReferenceOffset(double samples) {
        referenceOffset_ = samples;
        update();
    }
    // What the panel says of the reference: what the zone lines measure of it
    // and the difference, or how to align it; empty without one.
    QString referenceText() const;
    // Plot extent in view pixels.
    int plotRight() const { return width() - kPanelWidth; }
    int originY() const { return height() - kOriginAboveBottom; }

  signals:
    void scalesChanged();  // the panel and the enabling of the zoom commands follow

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildPanel();
    void updateVerticalBars();
    void updatePanel();
    void paintZoneLines(QPainter& painter) const;
    void paintPanelTexts(QPainter& painter) const;
    void paintReference(QPainter& painter, const widgets::PlotStyle& style,
                        const FrameOptions& options) const;

    bool insidePlot(QPoint position) const;
    double heightAboveOrigin(int y) const { return originY() - y; }

    SampleDocument& document_;
    WaveformState state_;
    bool grid_ = true;
    bool voltageOnTop_ = true;
    bool secondsOnly_ = false;
    QString status_[2];
    std::optional<PanelTotals> totals_;
    QString journalNote_;
    std::optional<std::pair<double, double>> timeLines_;     // sample positions
    std::optional<std::pair<double, double>> voltageLines_;  // heights above the origin
    int dragging_ = -1;                                      // 0-1 time lines, 2-3 voltage lines
    const SampleDocument* reference_ = nullptr;
    QString referenceName_;
    double referenceOffset_ = 0;                     // samples
    std::optional<std::pair<int, double>> shift_;    // a Ctrl+drag: its start x and offset
    plot::SeriesExtremes fittedVolts_, fittedAmps_;  // what the panorama last fitted
    std::vector<QWidget*> panelWidgets_;
    QScrollBar* timeBar_ = nullptr;
    QScrollBar* verticalBars_[2] = {};  // voltage at the left edge, current at the right
    QString lastReadout_;               // under the cursor, also shown in the panel
    QLabel* scaleLabels_[3] = {};
    QSlider* sliders_[3] = {};
};

}  // namespace recorder::ui
