#include "analyzer/ui/packet_curve_view.h"

#include "analyzer/settings.h"
#include "qt/picture_export.h"
#include "qt/text.h"
#include "widgets/plot_painter.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace analyzer::ui {
namespace {

enum ButtonIndex {
    kVoltagePlus,
    kVoltageMinus,
    kCurrentPlus,
    kCurrentMinus,
    kSamplePlus,
    kSampleMinus
};
constexpr const char* kButtonNames[6] = {"V+", "V-", "A+", "A-", "N+", "N-"};

constexpr int kVoltagePlusX = 8;
constexpr int kVoltageMinusX = 30;
constexpr int kScaleButtonY = 25;
constexpr int kScaleButtonSize = 17;
constexpr int kSampleButtonSize = 18;
constexpr int kScrollBarHeight = 20;
constexpr int kPictureButtonWidth = 72;
constexpr int kPageStep = 20;
constexpr int kFontPixels = 15;
constexpr int kLabelSpan = 2000;  // wide enough for any label

const QColor kGrid(0, 100, 100);
const QColor kAxis(150, 150, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 255, 0);
const QColor kGrey(200, 200, 200);

// The labels were laid out for 宋体 at a given average character width; the
// stretch brings whichever CJK family is installed to that width.
QFont labelFont(int averageWidth, QFont::Weight weight) {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(kFontPixels);
    font.setWeight(weight);
    const int natural = QFontMetrics(font).averageCharWidth();
    if (natural > 0)
        font.setStretch(
            std::clamp(static_cast<int>(std::lround(100.0 * averageWidth / natural)), 50, 200));
    return font;
}

}  // namespace

PacketCurveView::PacketCurveView(const ufcs::CaptureStore& store, common::Profile& profile,
                                 bool smallScreen, QWidget* parent)
    : QDialog(parent),
      store_(store),
      profile_(profile),
      geometry_{smallScreen},
      state_(analyzer::AnalyzerSettings(profile).curveScales()),
      plotStyle_{QPoint(geometry_.originX(), geometry_.originY()),
                 geometry_.plotWidth(),
                 geometry_.plotHeight(),
                 50,
                 100,
                 kGrid,
                 kAxis,
                 {kRed, kGreen, kGrey},
                 labelFont(12, QFont::ExtraLight),
                 labelFont(9, QFont::Thin),
                 kLabelSpan,
                 kFontPixels} {
    setWindowTitle(QStringLiteral("电压电流--数据包曲线"));
    setModal(false);
    setFixedSize(geometry_.windowWidth(), geometry_.windowHeight());
    // The whole client area comes from the off-screen image.
    setAttribute(Qt::WA_OpaquePaintEvent);

    struct Place {
        const char* text;
        int x, y, size;
    };
    const Place places[6] = {
        {"+", kVoltagePlusX, kScaleButtonY, kScaleButtonSize},
        {"-", kVoltageMinusX, kScaleButtonY, kScaleButtonSize},
        {"+", geometry_.currentPlusX(), kScaleButtonY, kScaleButtonSize},
        {"-", geometry_.currentMinusX(), kScaleButtonY, kScaleButtonSize},
        {"+", geometry_.samplePlusX(), geometry_.scrollBarY(), kSampleButtonSize},
        {"-", geometry_.sampleMinusX(), geometry_.scrollBarY(), kSampleButtonSize},
    };
    for (int i = 0; i < 6; ++i) {
        auto* button = new QPushButton(QString::fromLatin1(places[i].text), this);
        button->setGeometry(places[i].x, places[i].y, places[i].size, places[i].size);
        // Enter must not press whichever scale button has the focus.
        button->setAutoDefault(false);
        button->installEventFilter(this);
        buttons_[i] = button;
    }
    connect(buttons_[kVoltagePlus], &QPushButton::clicked, this,
            [this] { press(&PacketCurveState::voltagePlus, kVoltagePlus, kVoltageMinus); });
    connect(buttons_[kVoltageMinus], &QPushButton::clicked, this,
            [this] { press(&PacketCurveState::voltageMinus, kVoltageMinus, kVoltagePlus); });
    connect(buttons_[kCurrentPlus], &QPushButton::clicked, this,
            [this] { press(&PacketCurveState::currentPlus, kCurrentPlus, kCurrentMinus); });
    connect(buttons_[kCurrentMinus], &QPushButton::clicked, this,
            [this] { press(&PacketCurveState::currentMinus, kCurrentMinus, kCurrentPlus); });
    connect(buttons_[kSamplePlus], &QPushButton::clicked, this,
            [this] { press(&PacketCurveState::samplePlus, kSamplePlus, kSampleMinus); });
    connect(buttons_[kSampleMinus], &QPushButton::clicked, this,
            [this] { press(&PacketCurveState::sampleMinus, kSampleMinus, kSamplePlus); });

    scrollBar_ = new QScrollBar(Qt::Horizontal, this);
    scrollBar_->setGeometry(geometry_.scrollBarX(), geometry_.scrollBarY(),
                            geometry_.scrollBarWidth(), kScrollBarHeight);
    scrollBar_->setSingleStep(1);
    scrollBar_->setPageStep(kPageStep);
    connect(scrollBar_, &QScrollBar::actionTriggered, this, &PacketCurveView::onScrollAction);

    fitButton_ = new QPushButton(QStringLiteral("适合"), this);
    fitButton_->setGeometry(geometry_.samplePlusX() + kSampleButtonSize + 6,
                            geometry_.scrollBarY() - 1, 56, kScrollBarHeight + 2);
    fitButton_->setAutoDefault(false);
    fitButton_->setToolTip(QStringLiteral("调整电压、电流和序号刻度，显示全部数据"));
    connect(fitButton_, &QPushButton::clicked, this, &PacketCurveView::fitToData);
    // 保存图片 and 复制图片 below 适合, at the right end of the reading's line.
    const int pictureY = geometry_.scrollBarY() + kScrollBarHeight + 3;
    const int pictureRight = geometry_.samplePlusX() + kSampleButtonSize + 6 + 56;
    savePicture_ = new QPushButton(QStringLiteral("保存图片"), this);
    copyPicture_ = new QPushButton(QStringLiteral("复制图片"), this);
    copyPicture_->setGeometry(pictureRight - kPictureButtonWidth, pictureY, kPictureButtonWidth,
                              kScrollBarHeight + 4);
    savePicture_->setGeometry(pictureRight - 2 * kPictureButtonWidth - 6, pictureY,
                              kPictureButtonWidth, kScrollBarHeight + 4);
    savePicture_->setToolTip(QStringLiteral("把曲线按现在的样子存为 PNG 或 SVG 图片"));
    copyPicture_->setToolTip(QStringLiteral("把曲线按现在的样子复制到剪贴板"));
    for (QPushButton* button : {savePicture_, copyPicture_})
        button->setAutoDefault(false);
    connect(savePicture_, &QPushButton::clicked, this, [this] {
        if (!choosePicturePath_) return;
        if (const QString path = choosePicturePath_(); !path.isEmpty()) savePictureTo(path);
    });
    connect(copyPicture_, &QPushButton::clicked, this,
            [this] { qt_adapters::copyWidgetPicture(*this); });
    reading_ = new QLabel(this);
    reading_->setGeometry(geometry_.scrollBarX(), geometry_.scrollBarY() + kScrollBarHeight + 4,
                          geometry_.scrollBarWidth() - 2 * kPictureButtonWidth - 20, 20);
    QPalette readingPalette = reading_->palette();
    readingPalette.setColor(QPalette::WindowText, kGrey);
    reading_->setPalette(readingPalette);
    setMouseTracking(true);

    syncControls();
}

void PacketCurveView::fitToData() {
    userChoseScales_ = false;  // fitted scales again: later captures fit too
    state_.fit(latestPackets(), geometry_);
    syncControls();
    update();
}

void PacketCurveView::showReadingAt(int x) {
    const auto reading = state_.readingAt(x - geometry_.originX(), packets_, geometry_);
    reading_->setText(reading ? QString::asprintf("序号 %u    电压 %.2f V    电流 %.3f A",
                                                  reading->record, reading->millivolts / 1000.0,
                                                  reading->milliamps / 1000.0)
                              : QString());
}

QString PacketCurveView::readingText() const {
    return reading_->text();
}

void PacketCurveView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    showReadingAt(at.x());
    if (dragFrom_) {
        dragTo_ = at.x() - geometry_.originX();
        update();
    }
    QDialog::mouseMoveEvent(event);
}

bool PacketCurveView::insidePlot(QPoint position) const {
    const int x = position.x() - geometry_.originX();
    const int above = geometry_.originY() - position.y();
    return x >= 0 && x <= geometry_.plotWidth() && above >= 0 && above <= geometry_.plotHeight();
}

void PacketCurveView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && insidePlot(at)) {
        dragFrom_ = dragTo_ = at.x() - geometry_.originX();
        return;
    }
    QDialog::mousePressEvent(event);
}

// A click picks the record drawn there; a drag of a few pixels or more picks those between.
void PacketCurveView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragFrom_) {
        QDialog::mouseReleaseEvent(event);
        return;
    }
    const int from = *dragFrom_;
    const int to = event->position().toPoint().x() - geometry_.originX();
    dragFrom_.reset();
    dragTo_.reset();
    update();
    const uint32_t count = latestPackets().count();
    if (std::abs(to - from) < 4) {
        if (const auto reading = state_.readingAt(to, packets_, geometry_))
            emit recordClicked(reading->record);
    } else if (const auto span = state_.recordsBetween(from, to, count, geometry_)) {
        emit recordsChosen(span->first, span->last);
    }
}

void PacketCurveView::markRecord(std::optional<uint32_t> record) {
    if (marked_ == record) return;
    marked_ = record;
    update();
}

std::optional<int> PacketCurveView::markedColumn() const {
    if (!marked_) return std::nullopt;
    return state_.columnOfRecord(*marked_, packets_.count(), geometry_);
}

bool PacketCurveView::savePictureTo(const QString& path) {
    const QString file = qt_adapters::picturePathWithExtension(path);
    const common::FileResult saved =
        qt_adapters::saveWidgetPicture(*this, file, QStringLiteral("步骤曲线"));
    if (!saved.ok && message_) message_(qt_adapters::fromStd(saved.message));
    return saved.ok;
}

QPushButton* PacketCurveView::button(const char* which) const {
    for (int i = 0; i < 6; ++i) {
        if (qstrcmp(which, kButtonNames[i]) == 0) return buttons_[i];
    }
    return nullptr;
}

void PacketCurveView::countChanged(uint32_t count) {
    packets_.catchUp(store_, count);
    if (state_.countChanged(count)) syncControls();
    fitWhenDue();
}

void PacketCurveView::fitWhenDue() {
    if (!fitDue_ || !isVisible() || latestPackets().count() < 2) return;
    fitDue_ = false;
    if (!userChoseScales_) fitToData();
}

void PacketCurveView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    fitWhenDue();
}

void PacketCurveView::onCaptureCleared() {
    resetCount();
    fitDue_ = true;  // a new capture is shown whole once it has records
}

const PacketSeries& PacketCurveView::latestPackets() {
    // The instrument's records may run ahead of their events.
    packets_.catchUp(store_, store_.count());
    return packets_;
}

void PacketCurveView::resetCount() {
    packets_.clear();
    state_.resetCount();
}

void PacketCurveView::onCaptureOpened() {
    resetCount();
    fitDue_ = true;
    countChanged(store_.count());
    update();
}

void PacketCurveView::refreshTick() {
    if (!isVisible()) return;
    if (state_.following()) {
        applyScroll(PacketCurveState::Scroll::ToEnd);
    } else {
        update();
    }
}

void PacketCurveView::captureStopped() {
    if (!isVisible()) return;
    if (state_.following()) {
        applyScroll(PacketCurveState::Scroll::PageRight);
    } else {
        update();
    }
}

void PacketCurveView::setCurrentRange(uint16_t milliamps) {
    currentRange_ = milliamps;
    update();
}

void PacketCurveView::press(bool (PacketCurveState::*change)(), int self, int partner) {
    userChoseScales_ = true;
    (state_.*change)();
    syncControls();
    if (!buttons_[self]->isEnabled()) buttons_[partner]->setFocus();
    update();
}

void PacketCurveView::applyScroll(PacketCurveState::Scroll action, int track) {
    state_.scroll(action, track);
    syncControls();
    update();
}

void PacketCurveView::onScrollAction(int action) {
    if (syncing_) return;
    using Scroll = PacketCurveState::Scroll;
    Scroll scroll = Scroll::Track;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            scroll = Scroll::LineLeft;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            scroll = Scroll::LineRight;
            break;
        case QAbstractSlider::SliderPageStepSub:
            scroll = Scroll::PageLeft;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            scroll = Scroll::PageRight;
            break;
        case QAbstractSlider::SliderToMinimum:
            scroll = Scroll::ToStart;
            break;
        case QAbstractSlider::SliderToMaximum:
            scroll = Scroll::ToEnd;
            break;
        case QAbstractSlider::SliderMove:
            scroll = Scroll::Track;
            break;
        default:
            return;
    }
    state_.scroll(scroll, scrollBar_->sliderPosition());
    // The bar applies its slider position once this returns: make it the state's.
    syncing_ = true;
    scrollBar_->setSliderPosition(state_.position());
    syncing_ = false;
    update();
}

void PacketCurveView::syncControls() {
    syncing_ = true;
    const ScrollRange range = state_.range();
    scrollBar_->setRange(0, range.maximum);
    scrollBar_->setValue(state_.position());
    scrollBar_->setEnabled(range.enabled);
    syncing_ = false;
    buttons_[kVoltagePlus]->setEnabled(state_.voltagePlusEnabled());
    buttons_[kVoltageMinus]->setEnabled(state_.voltageMinusEnabled());
    buttons_[kCurrentPlus]->setEnabled(state_.currentPlusEnabled());
    buttons_[kCurrentMinus]->setEnabled(state_.currentMinusEnabled());
    buttons_[kSamplePlus]->setEnabled(state_.samplePlusEnabled());
    buttons_[kSampleMinus]->setEnabled(state_.sampleMinusEnabled());
}

bool PacketCurveView::scrollKey(int key) {
    using Scroll = PacketCurveState::Scroll;
    switch (key) {
        case Qt::Key_PageUp:
            applyScroll(Scroll::PageLeft);
            return true;
        case Qt::Key_PageDown:
            applyScroll(Scroll::PageRight);
            return true;
        case Qt::Key_End:
            applyScroll(Scroll::ToEnd);
            return true;
        case Qt::Key_Home:
            applyScroll(Scroll::ToStart);
            return true;
        case Qt::Key_Left:
            applyScroll(Scroll::LineLeft);
            return true;
        case Qt::Key_Right:
            applyScroll(Scroll::LineRight);
            return true;
        default:
            return false;
    }
}

void PacketCurveView::keyPressEvent(QKeyEvent* event) {
    if (scrollKey(event->key())) return;
    QDialog::keyPressEvent(event);
}

bool PacketCurveView::eventFilter(QObject* watched, QEvent* event) {
    // A focused button would otherwise take Left/Right to move the focus.
    if (event->type() == QEvent::KeyPress && scrollKey(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QDialog::eventFilter(watched, event);
}

void PacketCurveView::reject() {
    close();
}

void PacketCurveView::closeEvent(QCloseEvent* event) {
    saveScales();
    hide();
    event->accept();
    emit closed();
}

void PacketCurveView::saveScales() {
    analyzer::AnalyzerSettings(profile_).saveCurveScales(
        {state_.voltageScale(), state_.sampleIndex(), state_.currentIndex()});
}

QImage PacketCurveView::paintToImage() {
    if (image_.size() != size()) image_ = QImage(size(), QImage::Format_RGB32);
    image_.fill(palette().color(QPalette::Window));
    QPainter painter(&image_);
    paintPlot(painter);
    return image_;
}

void PacketCurveView::paintEvent(QPaintEvent*) {
    paintToImage();
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

void PacketCurveView::paintPlot(QPainter& painter) {
    painter.fillRect(QRect(2, 0, width() - 4, height() - 2), Qt::black);
    widgets::paintPlotFrame(painter, plotStyle_,
                            state_.frame(latestPackets(), geometry_, currentRange_));
    paintMarks(painter);
}

void PacketCurveView::paintMarks(QPainter& painter) {
    const int ox = geometry_.originX(), oy = geometry_.originY();
    const int top = oy - geometry_.plotHeight();
    if (dragFrom_ && dragTo_) {
        const int left = std::clamp(std::min(*dragFrom_, *dragTo_), 0, geometry_.plotWidth());
        const int right = std::clamp(std::max(*dragFrom_, *dragTo_), 0, geometry_.plotWidth());
        painter.fillRect(QRect(ox + left, top, right - left + 1, oy - top),
                         QColor(90, 140, 255, 70));
    }
    if (const auto column = markedColumn()) {
        painter.setPen(QPen(QColor(255, 255, 255), 1, Qt::DashLine));
        painter.drawLine(ox + *column, oy, ox + *column, top);
    }
}

}  // namespace analyzer::ui
