#include "recorder/ui/waveform_view.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>
#include <QToolTip>
#include <cmath>

#include "common/format.h"
#include "qt/text.h"
#include "recorder/comparison.h"
#include "widgets/plot_painter.h"

namespace recorder::ui {
namespace {

using qt_adapters::fromStd;

const QColor kBackground(0, 0, 0);
const QColor kFrame(180, 180, 255);
const QColor kGrid(0, 100, 100);
const QColor kTimeText(150, 150, 150);
const QColor kVoltage(255, 0, 0);
const QColor kCurrent(0, 255, 0);
const QColor kZoneLine(255, 255, 0);
// The reference test of 对比, dimmed under this one's traces.
const QColor kReferenceVoltage(150, 60, 60);
const QColor kReferenceCurrent(60, 150, 60);
const QColor kReferenceText(170, 170, 170);
constexpr int kNearCurve = 6;       // pixels between the cursor and a curve that count as on it
constexpr int kPanelTextTop = 214;  // the read-outs begin under the zoom panel

QFont viewFont() {
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(15);
    return font;
}

}  // namespace

WaveformView::WaveformView(SampleDocument& document, QWidget* parent)
    : QWidget(parent), document_(document) {
    setMouseTracking(true);
    setMinimumSize(600, 400);
    setFont(viewFont());
    buildPanel();
}

void WaveformView::buildPanel() {
    // The vertical positions, in tenths of a division; up moves the curve up.
    for (int i = 0; i < 2; ++i) {
        const Axis axis = i == 0 ? Axis::Voltage : Axis::Current;
        verticalBars_[i] = new QScrollBar(Qt::Vertical, this);
        verticalBars_[i]->setInvertedAppearance(true);
        verticalBars_[i]->setSingleStep(10);
        verticalBars_[i]->setPageStep(50);
        connect(verticalBars_[i], &QScrollBar::valueChanged, this, [this, axis](int value) {
            if (std::lround(state_.scroll(axis) * 10) == value) return;
            state_.scroll(axis) = value / 10.0;
            update();
        });
    }
    const char* titles[3] = {"电压缩放：", "电流缩放：", "时间缩放："};
    for (int i = 0; i < 3; ++i) {
        scaleLabels_[i] = new QLabel(this);
        scaleLabels_[i]->setStyleSheet(QStringLiteral("color: rgb(220,220,220)"));
        scaleLabels_[i]->setWordWrap(true);
        sliders_[i] = new QSlider(Qt::Horizontal, this);
        sliders_[i]->setRange(0, (i == 2 ? kTimeScaleCount : kScaleCount) - 1);
        sliders_[i]->setEnabled(false);  // shows the scale; the buttons move it
        auto* in = new QToolButton(this);
        auto* out = new QToolButton(this);
        in->setText(QStringLiteral("+"));
        out->setText(QStringLiteral("-"));
        in->setObjectName(QStringLiteral("zoomIn%1").arg(i));
        out->setObjectName(QStringLiteral("zoomOut%1").arg(i));
        auto zoom = [this, i](bool zoomIn) {
            if (i == 2)
                zoomTime(zoomIn);
            else
                zoomVertical(i == 0 ? Axis::Voltage : Axis::Current, zoomIn);
        };
        connect(in, &QToolButton::clicked, this, [zoom] { zoom(true); });
        connect(out, &QToolButton::clicked, this, [zoom] { zoom(false); });
        scaleLabels_[i]->setProperty("title", QString::fromUtf8(titles[i]));
    }
    updatePanel();
}

void WaveformView::addPanelWidget(QWidget* widget) {
    panelWidgets_.push_back(widget);
    resizeEvent(nullptr);
}

void WaveformView::updateVerticalBars() {
    for (int i = 0; i < 2; ++i) {
        const Axis axis = i == 0 ? Axis::Voltage : Axis::Current;
        const plot::SampledSeries& channel =
            document_.channel(i == 0 ? kVoltageChannel : kCurrentChannel);
        const int divisions = (originY() - kTopMargin) / kDivisionHeight;
        // From the largest sample at the foot of the plot to the axis' zero at its top.
        const double reach =
            channel.count() ? channel.extremes().maximum * state_.factor(axis) / kDivisionHeight
                            : 0;
        const int value = static_cast<int>(std::lround(state_.scroll(axis) * 10));
        const QSignalBlocker quiet(verticalBars_[i]);
        verticalBars_[i]->setRange(std::min(value, static_cast<int>(-reach * 10) - 10),
                                   std::max(value, divisions * 10));
        verticalBars_[i]->setValue(value);
    }
}

void WaveformView::resizeEvent(QResizeEvent*) {
    const int left = width() - kPanelWidth + 40;
    int bottom = height() - 8;
    for (QWidget* widget : panelWidgets_) {
        const int tall = widget->sizeHint().height();
        widget->setGeometry(left, bottom - tall, kPanelWidth - 44, tall);
        bottom -= tall + 8;
    }
    // The voltage bar at the view's left edge; the current bar at its right,
    // between the zoom panel and the panels below the read-outs.
    verticalBars_[0]->setGeometry(0, kTopMargin, 12, originY() - kTopMargin);
    verticalBars_[1]->setGeometry(width() - 14, kPanelTextTop, 12,
                                  std::max(40, bottom - kPanelTextTop));
    for (int i = 0; i < 3; ++i) {
        const int top = 10 + i * 66;
        scaleLabels_[i]->setGeometry(left, top, kPanelWidth - 44, 36);
        auto* out = findChild<QToolButton*>(QStringLiteral("zoomOut%1").arg(i));
        auto* in = findChild<QToolButton*>(QStringLiteral("zoomIn%1").arg(i));
        out->setGeometry(left, top + 38, 22, 22);
        sliders_[i]->setGeometry(left + 26, top + 38, kPanelWidth - 100, 22);
        in->setGeometry(left + kPanelWidth - 70, top + 38, 22, 22);
    }
}

// The bar counts tenths of a time division.
void WaveformView::setTimeScrollBar(QScrollBar* bar) {
    timeBar_ = bar;
    setFocusPolicy(Qt::ClickFocus);
    connect(bar, &QScrollBar::valueChanged, this, [this](int value) {
        if (std::lround(state_.timeScroll * 10) == value) return;
        state_.timeScroll = value / 10.0;
        update();
    });
    updatePanel();
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        verticalBars_[0]->setFocus();
        verticalBars_[0]->triggerAction(event->key() == Qt::Key_Up
                                            ? QAbstractSlider::SliderSingleStepSub
                                            : QAbstractSlider::SliderSingleStepAdd);
        return;
    }
    if (timeBar_ && (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        timeBar_->setFocus();
        timeBar_->triggerAction(event->key() == Qt::Key_Left
                                    ? QAbstractSlider::SliderSingleStepSub
                                    : QAbstractSlider::SliderSingleStepAdd);
        return;
    }
    QWidget::keyPressEvent(event);
}

void WaveformView::updatePanel() {
    updateVerticalBars();
    if (timeBar_) {
        const QSignalBlocker quiet(timeBar_);
        const double most = timeScrollMaximum(state_, document_.displayedCount());
        timeBar_->setRange(std::min(0, static_cast<int>(std::floor(state_.timeScroll * 10))),
                           std::max(static_cast<int>(std::ceil(most * 10)),
                                    static_cast<int>(std::lround(state_.timeScroll * 10))));
        timeBar_->setPageStep(std::max(10, (plotRight() - kOriginLeft) / kDivisionWidth * 10));
        timeBar_->setSingleStep(10);
        timeBar_->setValue(static_cast<int>(std::lround(state_.timeScroll * 10)));
    }
    const std::string_view labels[3] = {kVoltScales[state_.voltIndex].label,
                                        kCurrentScales[state_.currentIndex].label,
                                        kTimeScales[state_.timeIndex].label};
    for (int i = 0; i < 3; ++i) {
        scaleLabels_[i]->setText(
            scaleLabels_[i]->property("title").toString() +
            QString::fromUtf8(labels[i].data(), static_cast<qsizetype>(labels[i].size())));
    }
    sliders_[0]->setValue(kScaleCount - 1 - state_.voltIndex);
    sliders_[1]->setValue(kScaleCount - 1 - state_.currentIndex);
    sliders_[2]->setValue(state_.timeIndex);
    emit scalesChanged();
    update();
}

QStringList WaveformView::scaleTexts() const {
    return {scaleLabels_[0]->text(), scaleLabels_[1]->text(), scaleLabels_[2]->text()};
}

void WaveformView::samplesArrived() {
    followNewest(state_, document_, width(), height());
    // The panorama fits again at five samples and whenever an extreme moves.
    const plot::SeriesExtremes volts = document_.channel(kVoltageChannel).extremes();
    const plot::SeriesExtremes amps = document_.channel(kCurrentChannel).extremes();
    const bool moved = volts.maximum != fittedVolts_.maximum ||
                       volts.minimum != fittedVolts_.minimum ||
                       amps.maximum != fittedAmps_.maximum || amps.minimum != fittedAmps_.minimum;
    if (state_.panorama && document_.displayedCount() >= 5 && moved) {
        fittedVolts_ = volts;
        fittedAmps_ = amps;
        fitAll();
    }
    updatePanel();
}

void WaveformView::documentReplaced(bool fit) {
    fittedVolts_ = fittedAmps_ = plot::SeriesExtremes{};
    state_.timeScroll = 0;
    state_.voltScroll = state_.currentScroll = 0;
    timeLines_.reset();
    voltageLines_.reset();
    if (fit) fitAll();
    updatePanel();
}

void WaveformView::setStatusTexts(const QString& first, const QString& second) {
    status_[0] = first;
    status_[1] = second;
    update();
}

void WaveformView::setTotals(const std::optional<PanelTotals>& totals) {
    totals_ = totals;
    update();
}

void WaveformView::setJournalNote(const QString& note) {
    journalNote_ = note;
    update();
}

// A scale the user picks ends the panorama, which would otherwise fit it away at the
// next sample; tracking goes on at the new scale.
void WaveformView::zoomTime(bool in) {
    zoomTimeCentred(state_, width(), in, document_.displayedCount());
    state_.panorama = false;
    updatePanel();
}

void WaveformView::zoomVertical(Axis axis, bool in) {
    if (!canZoomVertical(state_, axis, in)) return;
    if (axis == Axis::Current && document_.largestCount() == 0) return;
    int& index = axis == Axis::Voltage ? state_.voltIndex : state_.currentIndex;
    index += in ? -1 : 1;
    state_.panorama = false;
    updatePanel();
}

void WaveformView::fitAll() {
    panoramaFit(state_, document_, width(), height());
    updatePanel();
}

void WaveformView::setGrid(bool shown) {
    grid_ = shown;
    update();
}

void WaveformView::setVoltageOnTop(bool onTop) {
    voltageOnTop_ = onTop;
    update();
}

void WaveformView::showTimeZoneLines(bool shown) {
    if (!shown) {
        timeLines_.reset();
    } else {
        // A third and two thirds across the plot.
        const double left = state_.sampleAtX(kOriginLeft + (plotRight() - kOriginLeft) / 3.0);
        const double right = state_.sampleAtX(kOriginLeft + 2 * (plotRight() - kOriginLeft) / 3.0);
        timeLines_ = {left, right};
    }
    update();
}

void WaveformView::showVoltageZoneLines(bool shown) {
    if (!shown)
        voltageLines_.reset();
    else
        voltageLines_ = {kDivisionHeight * 2.0, kDivisionHeight * 4.0};
    update();
}

bool WaveformView::insidePlot(QPoint p) const {
    return p.x() > kOriginLeft && p.y() < height() - 42 && p.x() < plotRight();
}

QString WaveformView::readoutAt(QPoint position) const {
    if (!insidePlot(position)) return {};
    const double height = heightAboveOrigin(position.y());
    const auto index = static_cast<long long>(std::floor(state_.sampleAtX(position.x()) + 0.5));
    if (index < 0) return {};
    QString values;
    double volts = -1, amps = -1;
    auto near = [&](const plot::SampledSeries& channel, Axis axis, bool shown, double& value) {
        if (!shown || static_cast<uint64_t>(index) >= channel.count()) return false;
        const uint16_t raw = channel.at(static_cast<uint32_t>(index));
        if (std::abs(state_.heightOf(raw, axis) - height) > kNearCurve) return false;
        value = raw / 1000.0;
        return true;
    };
    if (near(document_.channel(kVoltageChannel), Axis::Voltage, state_.voltageShown, volts))
        values += fromStd(common::format("U=%.3f", volts));
    if (near(document_.channel(kCurrentChannel), Axis::Current, state_.currentShown, amps)) {
        if (!values.isEmpty()) values += QStringLiteral("  ");
        values += fromStd(common::format("I=%.3fA", amps));
    }
    if (values.isEmpty()) return {};
    if (volts >= 0 && amps >= 0) values += fromStd(common::format("  P=%.3fW", volts * amps));
    const double seconds = static_cast<double>(index) * document_.period;
    if (secondsOnly_) return values + fromStd(common::format(" ,T=%.3f", seconds));
    return values + QStringLiteral(" , T=") + fromStd(viewTimeText(seconds, 3));
}

std::optional<SampleSpan> WaveformView::zoneSpan() const {
    if (!timeLines_) return std::nullopt;
    return recorder::zoneSpan(timeLines_->first, timeLines_->second);
}

QString WaveformView::zoneText() const {
    const std::optional<SampleSpan> span = zoneSpan();
    if (!span) return {};
    const ZoneMeasurement zone = measureZone(document_, span->first, span->end - 1);
    return fromStd(common::format(
        "Δt=%s\nU平均 %.3f V\nU %.3f~%.3f\nI平均 %.3f A\nI %.3f~%.3f\n%.4f Wh\n%.3f mAh",
        viewTimeText(zone.seconds, 3).c_str(), zone.averageVolts, zone.minimumVolts,
        zone.maximumVolts, zone.averageAmps, zone.minimumAmps, zone.maximumAmps, zone.wattHours,
        zone.milliampHours));
}

// --- painting -----------------------------------------------------------------

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    widgets::PlotStyle style;
    style.origin = QPoint(kOriginLeft, originY());
    style.width = plotRight() - kOriginLeft;
    style.height = originY() - kTopMargin;
    style.columnStep = kDivisionWidth;
    style.rowStep = kDivisionHeight;
    style.grid = kGrid;
    style.axis = kFrame;
    style.shades = {kVoltage, kCurrent, kTimeText};
    style.bigFont = style.smallFont = font();
    style.traceWidth = 2;
    style.clipTraces = true;
    const FrameOptions options{width(), height(), secondsOnly_, voltageOnTop_};
    const plot::Frame frame = waveformFrame(state_, document_, options);
    if (grid_) widgets::paintPlotGrid(painter, style, frame.columnShift);
    widgets::paintPlotAxes(painter, style);
    paintReference(painter, style, options);
    widgets::paintPlotLabels(painter, style, frame.labels);
    widgets::paintPlotTraces(painter, style, frame.drawOrder());

    painter.save();
    painter.setClipRect(
        QRect(QPoint(kOriginLeft + 1, kTopMargin), QPoint(plotRight() - 1, originY())));
    paintZoneLines(painter);
    painter.restore();
    paintPanelTexts(painter);
}

void WaveformView::paintReference(QPainter& painter, const widgets::PlotStyle& style,
                                  const FrameOptions& options) const {
    if (!reference_) return;
    // The reference's sample i at this test's i + offset: the same scroll, moved.
    WaveformState shifted = state_;
    shifted.timeScroll -= referenceOffset_ * state_.pixelsPerSample() / kDivisionWidth;
    const plot::Frame frame = waveformFrame(shifted, *reference_, options);
    widgets::PlotStyle dim = style;
    dim.shades = {kReferenceVoltage, kReferenceCurrent, kTimeText};
    dim.traceWidth = 1;
    widgets::paintPlotTraces(painter, dim, frame.drawOrder());
}

void WaveformView::setReference(const SampleDocument* reference, const QString& name) {
    reference_ = reference;
    referenceName_ = name;
    referenceOffset_ = 0;
    shift_.reset();
    update();
}

QString WaveformView::referenceText() const {
    if (!reference_) return {};
    if (!timeLines_) return QStringLiteral("参考 %1（Ctrl+拖动对齐）").arg(referenceName_);
    const SampleSpan span = *zoneSpan();
    const ZoneMeasurement zone = measureZone(document_, span.first, span.end - 1);
    const double offset = std::round(referenceOffset_);
    const double first = std::max(0.0, span.first - offset);
    const double last = static_cast<double>(span.end) - 1 - offset;
    if (last < first) return QStringLiteral("参考 %1：区线之间没有采样").arg(referenceName_);
    const ZoneMeasurement other =
        measureZone(*reference_, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
    QString text = QStringLiteral("参考 %1（差 = 本次 - 参考）").arg(referenceName_);
    for (const ComparisonRow& row : comparisonRows(other, zone)) {
        if (row.key == "duration_s" || row.key == "peak_v" || row.key == "peak_a") continue;
        text += fromStd(common::format("\n%s %.4g %s  差 %+.4g", row.name.c_str(), row.a,
                                       row.unit.c_str(), row.difference()));
    }
    return text;
}

void WaveformView::paintZoneLines(QPainter& painter) const {
    painter.setPen(QPen(kZoneLine, 1, Qt::DashLine));
    if (timeLines_) {
        for (const double sample : {timeLines_->first, timeLines_->second}) {
            const double x = state_.xOfSample(sample);
            painter.drawLine(QPointF(x, kTopMargin), QPointF(x, originY()));
        }
    }
    if (voltageLines_) {
        for (const double height : {voltageLines_->first, voltageLines_->second}) {
            const double y = originY() - height;
            painter.drawLine(QPointF(kOriginLeft, y), QPointF(plotRight(), y));
        }
    }
}

void WaveformView::paintPanelTexts(QPainter& painter) const {
    const int left = width() - kPanelWidth + 44;
    int y = kPanelTextTop;
    painter.setPen(QColor(220, 220, 220));
    auto line = [&](const QString& text, const QColor& colour) {
        painter.setPen(colour);
        const QRect box(left, y, kPanelWidth - 62, 200);  // clear of the current's scroll bar
        const QRect used = painter.boundingRect(box, Qt::AlignLeft | Qt::TextWordWrap, text);
        painter.drawText(box, Qt::AlignLeft | Qt::TextWordWrap, text);
        y += used.height() + 6;
    };
    const plot::SampledSeries& volts = document_.channel(kVoltageChannel);
    const plot::SampledSeries& amps = document_.channel(kCurrentChannel);
    if (volts.count() > 0)
        line(fromStd(common::format("%.3f V", volts.at(volts.count() - 1) / 1000.0)), kVoltage);
    if (amps.count() > 0)
        line(fromStd(common::format("%.3f A", amps.at(amps.count() - 1) / 1000.0)), kCurrent);
    for (const QString& status : status_) {
        if (!status.isEmpty() && (&status == &status_[0] || status != status_[0]))
            line(status, QColor(220, 220, 220));  // "定时停止" in both is said once
    }
    if (totals_) line(fromStd(panelTotalsText(*totals_)), QColor(220, 220, 120));
    if (!journalNote_.isEmpty()) line(journalNote_, QColor(255, 110, 80));
    if (!lastReadout_.isEmpty()) {
        QString shown = lastReadout_;
        line(shown.replace(QStringLiteral(" , "), QStringLiteral("\n"))
                 .replace(QStringLiteral("  "), QStringLiteral("\n")),
             QColor(255, 255, 255));
    }
    if (timeLines_) line(zoneText(), kZoneLine);
    if (reference_) line(referenceText(), kReferenceText);
    if (voltageLines_) {
        const double dv = std::abs(state_.valueAtHeight(voltageLines_->first, Axis::Voltage) -
                                   state_.valueAtHeight(voltageLines_->second, Axis::Voltage));
        line(fromStd(common::format("ΔV=%.3f V", dv)), kZoneLine);
    }
}

// --- mouse ----------------------------------------------------------------------

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (shift_) {
        setReferenceOffset(shift_->second + (p.x() - shift_->first) / state_.pixelsPerSample());
        return;
    }
    if (dragging_ >= 0) {
        if (dragging_ < 2) {
            (dragging_ == 0 ? timeLines_->first : timeLines_->second) = state_.sampleAtX(p.x());
        } else {
            (dragging_ == 2 ? voltageLines_->first : voltageLines_->second) =
                heightAboveOrigin(p.y());
        }
        update();
        return;
    }
    const QString text = readoutAt(p);
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
    if (text != lastReadout_) {
        lastReadout_ = text;  // also kept in the panel, where it stays readable
        update();
    }
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (!insidePlot(p)) return;
    if (reference_ && event->button() == Qt::LeftButton &&
        (event->modifiers() & Qt::ControlModifier)) {
        shift_ = {p.x(), referenceOffset_};
        return;
    }
    // A zone line within a few pixels is picked up first.
    if (timeLines_) {
        for (int i = 0; i < 2; ++i) {
            const double sample = i == 0 ? timeLines_->first : timeLines_->second;
            if (std::abs(state_.xOfSample(sample) - p.x()) <= 4) dragging_ = i;
        }
    }
    if (voltageLines_ && dragging_ < 0) {
        for (int i = 0; i < 2; ++i) {
            const double height = i == 0 ? voltageLines_->first : voltageLines_->second;
            if (std::abs(heightAboveOrigin(p.y()) - height) <= 4) dragging_ = 2 + i;
        }
    }
    if (dragging_ >= 0 || state_.zoomMode == ZoomAtPoint::None || document_.largestCount() == 0)
        return;
    const bool in = event->button() == Qt::LeftButton;
    if (state_.zoomMode == ZoomAtPoint::Time)
        zoomTimeAt(state_, p.x(), in, document_.displayedCount());
    else
        zoomVerticalAt(state_,
                       state_.zoomMode == ZoomAtPoint::Voltage ? Axis::Voltage : Axis::Current,
                       heightAboveOrigin(p.y()), in);
    updatePanel();
}

void WaveformView::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = -1;
    shift_.reset();
}

}  // namespace recorder::ui
