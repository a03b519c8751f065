#pragma once
// "电压电流--数据包曲线": bus voltage and current per captured packet, painted
// from analyzer::PacketCurveState into an off-screen image, then to the screen.

#include <QDialog>
#include <QFont>
#include <QImage>
#include <functional>
#include <optional>

#include "analyzer/capture_document.h"
#include "analyzer/packet_curve.h"
#include "common/profile.h"
#include "widgets/plot_painter.h"

class QLabel;
class QScrollBar;
class QPushButton;

namespace analyzer::ui {

// It follows the capture document: a new or cut-back capture starts the
// count again, records added and an opened file move it on.
class PacketCurveView final : public QDialog, public CaptureDocumentObserver {
    Q_OBJECT
  public:
    // Reads its scales from the profile's "Curve" section; small screen when narrower than 1360.
    PacketCurveView(const ufcs::CaptureStore& store, common::Profile& profile, bool smallScreen,
                    QWidget* parent = nullptr);

    // The capture's record count grew (or a file was opened).
    void countChanged(uint32_t count);
    // A new capture or an opened file: counting starts again.
    void resetCount();
    // The main window's 333 ms tick: follow the newest packets, or just repaint.
    void refreshTick();
    // Where capture stops: one page to the right while scrolling, else a repaint.
    void captureStopped();
    // The instrument's current range in mA (0: none), labelled at the right.
    void setCurrentRange(uint16_t milliamps);

    const PacketCurveState& state() const { return state_; }
    const PacketSeries& packets() const { return packets_; }
    QScrollBar* scrollBar() const { return scrollBar_; }
    QPushButton* button(const char* which) const;  // "V+", "V-", "A+", "A-", "N+", "N-"
    QPushButton* fitButton() const { return fitButton_; }
    QPushButton* savePictureButton() const { return savePicture_; }
    QPushButton* copyPictureButton() const { return copyPicture_; }
    // 保存图片: where it asks to save (empty: cancelled) and where it tells what went wrong.
    void setPictureAskers(std::function<QString()> choosePath,
                          std::function<void(const QString&)> message) {
        choosePicturePath_ = std::move(choosePath);
        message_ = std::move(message);
    }
    // The view as shown into a .png or .svg file; false (and told) when it cannot be.
    bool savePictureTo(const QString& path);
    // 适合: the scales that show the whole capture.
    void fitToData();
    // The record under window position `x` (the mouse), shown below the scroll bar.
    void showReadingAt(int x);
    // The record selected in the list, marked with a line where it is drawn; none: no mark.
    void markRecord(std::optional<uint32_t> record);
    std::optional<uint32_t> markedRecord() const { return marked_; }
    // The marked record's plot column, when it is in view.
    std::optional<int> markedColumn() const;
    QString readingText() const;
    // The last paint, for tests and screenshots.
    QImage paintToImage();

    // CaptureDocumentObserver
    void onCaptureCleared() override;
    void onCaptureOpened() override;
    void onRecordsArrived(uint32_t count) override { countChanged(count); }

  signals:
    // The view was closed: the scales were saved and the main window unticks 步骤曲线.
    void closed();
    // A click on the curve: the record drawn nearest the click.
    void recordClicked(uint32_t record);
    // A drag across the curve: the records drawn between its ends.
    void recordsChosen(uint32_t first, uint32_t last);

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // Escape closes the view like its close box, saving the scales.
    void reject() override;
    // The scroll keys work whichever button has the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool scrollKey(int key);
    void onScrollAction(int action);
    void press(bool (PacketCurveState::*change)(), int self, int partner);
    void applyScroll(PacketCurveState::Scroll action, int track = 0);
    void syncControls();
    void paintPlot(QPainter& painter);
    // The selected record's line and the span being dragged, over the curve.
    void paintMarks(QPainter& painter);
    bool insidePlot(QPoint position) const;
    // The series caught up with whatever the store holds by now.
    const PacketSeries& latestPackets();
    void saveScales();
    // Fits as 适合 does when a fit is due (the first show, a new capture, an
    // opened file) and there is something to fit, unless the user has chosen
    // scales since.
    void fitWhenDue();

    const ufcs::CaptureStore& store_;
    PacketSeries packets_;  // the store's values, read as records arrive
    common::Profile& profile_;
    CurveGeometry geometry_;
    PacketCurveState state_;
    uint16_t currentRange_ = 0;
    QScrollBar* scrollBar_ = nullptr;
    QPushButton* buttons_[6] = {};
    QPushButton* fitButton_ = nullptr;
    QPushButton* savePicture_ = nullptr;
    QPushButton* copyPicture_ = nullptr;
    std::function<QString()> choosePicturePath_;
    std::function<void(const QString&)> message_;
    QLabel* reading_ = nullptr;
    bool syncing_ = false;
    bool fitDue_ = true;            // the first show fits
    bool userChoseScales_ = false;  // with the scale buttons, since the last fit
    std::optional<uint32_t> marked_;
    std::optional<int> dragFrom_, dragTo_;  // plot columns of a press and of the mouse since
    widgets::PlotStyle plotStyle_;          // made once: a paint only reads it
    QImage image_;
};

}  // namespace analyzer::ui
