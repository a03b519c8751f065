#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "analyzer/ui/packet_curve_view.h"
#include "common/byte_order.h"
#include "support/test_folder.h"

using analyzer::ui::PacketCurveView;

namespace {

constexpr int kOriginX = 53;
constexpr int kOriginY = 604;
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);

void setRecord(ufcs::CaptureStore& store, uint32_t index, uint16_t millivolts, uint16_t milliamps) {
    common::writeLe16(store.recordBytes(index) + 10, millivolts);
    common::writeLe16(store.recordBytes(index) + 12, milliamps);
}

// `messages` records after the header, all at the same voltage and current.
std::unique_ptr<ufcs::CaptureStore> steadyCapture(uint32_t messages, uint16_t millivolts,
                                                  uint16_t milliamps) {
    auto store = ufcs::CaptureStore::create();
    for (uint32_t i = 1; i <= messages; ++i)
        setRecord(*store, i, millivolts, milliamps);
    store->setCount(messages + 1);
    return store;
}

QRgb pixelAt(const QImage& image, int x, int y) {
    return image.pixel(kOriginX + x, kOriginY - y) & 0xFFFFFF;
}

int countColour(const QImage& image, QRect area, QRgb colour) {
    int found = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++found;
    return found;
}

// A charger session: 5 V at idle, then 9 V, 12 V, 20 V under load, back to 5 V.
std::unique_ptr<ufcs::CaptureStore> chargerCapture(uint32_t messages) {
    auto store = ufcs::CaptureStore::create();
    for (uint32_t i = 1; i <= messages; ++i) {
        const double t = double(i) / messages;
        int mv = 5000, ma = 80;
        if (t > 0.15) mv = 9000, ma = 1500 + int(300 * (t - 0.15) / 0.25);
        if (t > 0.4) mv = 12000, ma = 2200;
        if (t > 0.6) mv = 20000, ma = 3000 - int(1800 * (t - 0.6) / 0.3);
        if (t > 0.9) mv = 5000, ma = 300;
        const int ripple = int(i * 37 % 11) - 5;
        setRecord(*store, i, uint16_t(mv + ripple * 20), uint16_t(std::max(0, ma + ripple * 15)));
    }
    store->setCount(messages + 1);
    return store;
}

}  // namespace

class PacketCurveViewTest : public QObject {
    Q_OBJECT
    // A scale chosen with the buttons (here the saved one again): no fit on showing.
    static void keepTheSavedScales(PacketCurveView& view) {
        view.button("N-")->click();
        view.button("N+")->click();
    }

  private slots:
    void titleSizeAndHidden() {
        auto store = steadyCapture(0, 0, 0);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        QCOMPARE(view.windowTitle(), QStringLiteral("电压电流--数据包曲线"));
        QCOMPARE(view.size(), QSize(1240, 700));
        QVERIFY(!view.isVisible());
        QVERIFY(!view.isModal());
        QCOMPARE(view.scrollBar()->geometry(), QRect(53, 650, 1065, 20));
        QCOMPARE(view.button("N-")->geometry(), QRect(1128, 650, 18, 18));
        QCOMPARE(view.button("A-")->geometry(), QRect(1192, 25, 17, 17));
        QCOMPARE(view.button("V+")->text(), QStringLiteral("+"));
        QCOMPARE(view.button("V-")->text(), QStringLiteral("-"));

        PacketCurveView small(*store, profile, true);
        QCOMPARE(small.size(), QSize(1000, 700));
        QCOMPARE(small.scrollBar()->width(), 825);
        QCOMPARE(small.button("N+")->x(), 906);
        QCOMPARE(small.button("A+")->x(), 930);
    }

    void scalesComeFromTheProfileAndAreSavedOnClose() {
        auto store = steadyCapture(0, 0, 0);
        common::MemoryProfile fresh;
        {
            PacketCurveView view(*store, fresh, false);
            QCOMPARE(view.state().voltageScale(), 1);
            QCOMPARE(view.state().sampleIndex(), 0);
            QCOMPARE(view.state().currentIndex(), 0);
            QVERIFY(!view.button("V+")->isEnabled());
            QVERIFY(!view.button("A+")->isEnabled());
            QVERIFY(!view.button("N+")->isEnabled());
            QVERIFY(view.button("V-")->isEnabled() && view.button("A-")->isEnabled() &&
                    view.button("N-")->isEnabled());
        }

        common::MemoryProfile profile;
        profile.writeInt("Curve", "XScale", 8);
        profile.writeInt("Curve", "CScale", 3);
        profile.writeInt("Curve", "YScale", 4);
        PacketCurveView view(*store, profile, false);
        QCOMPARE(view.state().voltageScale(), 4);
        QCOMPARE(view.state().sampleIndex(), 8);
        QCOMPARE(view.state().currentIndex(), 3);
        QVERIFY(!view.button("N-")->isEnabled());
        QVERIFY(!view.button("A-")->isEnabled());
        QVERIFY(view.button("V+")->isEnabled() && view.button("V-")->isEnabled());

        view.show();
        view.button("V+")->click();
        view.button("A+")->click();
        view.button("N+")->click();
        QCOMPARE(profile.readInt("Curve", "YScale", 0), 4);  // nothing written before closing
        QSignalSpy closed(&view, &PacketCurveView::closed);
        view.close();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!view.isVisible());
        QCOMPARE(profile.readInt("Curve", "YScale", 0), 3);
        QCOMPARE(profile.readInt("Curve", "CScale", 0), 2);
        QCOMPARE(profile.readInt("Curve", "XScale", 0), 7);

        // Escape closes the same way.
        view.show();
        view.button("V+")->click();
        QTest::keyClick(&view, Qt::Key_Escape);
        QCOMPARE(closed.count(), 2);
        QVERIFY(!view.isVisible());
        QCOMPARE(profile.readInt("Curve", "YScale", 0), 2);
    }

    void buttonsStopAtTheirLimits() {
        auto store = steadyCapture(0, 0, 0);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        view.show();
        struct Pair {
            const char *plus, *minus;
            int presses;
        };
        for (const Pair& pair : {Pair{"V+", "V-", 6}, Pair{"A+", "A-", 3}, Pair{"N+", "N-", 8}}) {
            QPushButton* plus = view.button(pair.plus);
            QPushButton* minus = view.button(pair.minus);
            QVERIFY(!plus->isEnabled());
            for (int i = 0; i < pair.presses; ++i) {
                minus->click();
                QVERIFY(plus->isEnabled());
                QCOMPARE(minus->isEnabled(), i + 1 < pair.presses);
            }
            QCOMPARE(view.focusWidget(), plus);
            minus->click();  // disabled: nothing happens
            plus->click();
            QVERIFY(minus->isEnabled());
            for (int i = 1; i < pair.presses; ++i)
                plus->click();
            QVERIFY(!plus->isEnabled());
            QCOMPARE(view.focusWidget(), minus);
        }
        QCOMPARE(view.state().voltageScale(), 1);
        QCOMPARE(view.state().currentIndex(), 0);
        QCOMPARE(view.state().sampleIndex(), 0);
    }

    void sampleButtonsChangeTheScrollRange() {
        auto store = steadyCapture(30, 5000, 1000);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        QVERIFY(!view.scrollBar()->isEnabled());
        view.countChanged(31);
        QCOMPARE(view.scrollBar()->minimum(), 0);
        QCOMPARE(view.scrollBar()->maximum(), 10);
        QVERIFY(view.scrollBar()->isEnabled());
        view.button("N-")->click();
        QCOMPARE(view.state().packetsPerDivision(), 2);
        QCOMPARE(view.scrollBar()->maximum(), 0);
        QVERIFY(!view.scrollBar()->isEnabled());
        view.button("N+")->click();
        QCOMPARE(view.scrollBar()->maximum(), 10);
        QVERIFY(view.scrollBar()->isEnabled());
        view.countChanged(20);  // smaller counts are ignored
        QCOMPARE(view.scrollBar()->maximum(), 10);
    }

    void keysAndTheBarScroll() {
        auto store = steadyCapture(199, 5000, 1000);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        keepTheSavedScales(view);
        view.show();
        view.countChanged(200);
        QCOMPARE(view.scrollBar()->maximum(), 179);
        QVERIFY(view.state().following());
        auto at = [&view](int position, bool following) {
            return view.state().position() == position && view.state().following() == following &&
                   view.scrollBar()->value() == position;
        };
        QTest::keyClick(&view, Qt::Key_End);
        QVERIFY(at(179, true));
        QTest::keyClick(&view, Qt::Key_Home);
        QVERIFY(at(0, false));
        QTest::keyClick(&view, Qt::Key_Right);
        QTest::keyClick(&view, Qt::Key_Right);
        QVERIFY(at(2, false));
        QTest::keyClick(&view, Qt::Key_Left);
        QVERIFY(at(1, false));
        QTest::keyClick(&view, Qt::Key_PageDown);
        QVERIFY(at(21, false));
        QTest::keyClick(&view, Qt::Key_PageUp);
        QVERIFY(at(1, false));
        QTest::keyClick(&view, Qt::Key_End);
        QTest::keyClick(&view, Qt::Key_PageDown);  // stays at the end, stops following
        QVERIFY(at(179, false));

        // A focused button passes the keys on instead of moving the focus.
        view.button("A-")->setFocus();
        QTest::keyClick(view.button("A-"), Qt::Key_Home);
        QTest::keyClick(view.button("A-"), Qt::Key_Right);
        QVERIFY(at(1, false));

        QScrollBar* bar = view.scrollBar();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QVERIFY(at(21, false));
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QVERIFY(at(20, false));
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        QVERIFY(at(179, true));
        bar->setSliderPosition(50);  // a thumb drag
        QVERIFY(at(50, false));
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QVERIFY(at(0, false));
        // A new capture: the bar keeps its old range until the count grows,
        // but its thumb still shows where the view is.
        view.resetCount();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QVERIFY(at(0, false));
    }

    void refreshTickFollowsWhileVisible() {
        auto store = steadyCapture(999, 5000, 1000);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        view.countChanged(300);
        view.refreshTick();
        QCOMPARE(view.state().position(), 0);  // hidden: left alone
        keepTheSavedScales(view);
        view.show();
        view.refreshTick();
        QCOMPARE(view.state().position(), 279);
        QCOMPARE(view.scrollBar()->value(), 279);
        view.countChanged(400);
        view.refreshTick();
        QCOMPARE(view.state().position(), 379);
        QVERIFY(view.state().following());

        QTest::keyClick(&view, Qt::Key_Home);
        view.countChanged(500);
        view.refreshTick();
        view.captureStopped();
        QCOMPARE(view.state().position(), 0);
        QVERIFY(!view.state().following());

        QTest::keyClick(&view, Qt::Key_End);
        view.captureStopped();  // one page right from the end: the end, no longer following
        QCOMPARE(view.state().position(), 479);
        QVERIFY(!view.state().following());

        view.resetCount();
        QCOMPARE(view.state().largestCount(), 0u);
        view.countChanged(50);
        QCOMPARE(view.scrollBar()->maximum(), 29);
        QCOMPARE(view.state().position(), 29);
    }

    void curvesArePaintedWhereTheFrameSays() {
        // 5000 mV at 1 V/div is y = 500; 750 mA at 0.5 A/div is y = 150.
        auto store = steadyCapture(10, 5000, 750);
        common::MemoryProfile profile;
        profile.writeInt("Curve", "CScale", 2);
        PacketCurveView view(*store, profile, false);
        view.countChanged(11);
        const QImage image = view.paintToImage();
        QCOMPARE(image.size(), QSize(1240, 700));
        const analyzer::CurveFrame frame =
            view.state().frame(view.packets(), analyzer::CurveGeometry{}, 0);
        QVERIFY(!frame.voltage.points.empty() && !frame.current.points.empty());
        for (const auto& p : frame.voltage.points)
            QCOMPARE(pixelAt(image, p.x, p.y), kRed & 0xFFFFFF);
        for (const auto& p : frame.current.points)
            QCOMPARE(pixelAt(image, p.x, p.y), kGreen & 0xFFFFFF);
        QCOMPARE(pixelAt(image, 150, 500), kRed & 0xFFFFFF);
        QCOMPARE(pixelAt(image, 150, 150), kGreen & 0xFFFFFF);
        // The curve starts at one division for the first record; nothing before it.
        QCOMPARE(pixelAt(image, 30, 150), qRgb(0, 0, 0) & 0xFFFFFF);
        QCOMPARE(pixelAt(image, 525, 150), qRgb(0, 0, 0) & 0xFFFFFF);
        QVERIFY(pixelAt(image, 30, 500) != (kRed & 0xFFFFFF));
        // Axes and grid.
        QCOMPARE(pixelAt(image, 0, 300), qRgb(150, 150, 255) & 0xFFFFFF);
        QCOMPARE(pixelAt(image, 1100, 300), qRgb(150, 150, 255) & 0xFFFFFF);
        QVERIFY(countColour(image, QRect(kOriginX + 600, kOriginY - 300, 300, 1),
                            qRgb(0, 100, 100)) > 50);
        // The left edge of the client area is not part of the black plot.
        QVERIFY((image.pixel(0, 300) & 0xFFFFFF) != 0);
        QCOMPARE(image.pixel(2, 300) & 0xFFFFFF, 0u);
    }

    void theCurveScaledLastIsDrawnBelow() {
        // 500 mV at 1 V/div and 500 mA at 1 A/div both land on y = 50.
        auto store = steadyCapture(10, 500, 500);
        common::MemoryProfile profile;
        profile.writeInt("Curve", "CScale", 2);
        PacketCurveView view(*store, profile, false);
        view.button("A-")->click();
        QCOMPARE(pixelAt(view.paintToImage(), 200, 50), kRed & 0xFFFFFF);
        view.button("V-")->click();
        view.button("V+")->click();
        QCOMPARE(pixelAt(view.paintToImage(), 200, 50), kGreen & 0xFFFFFF);
    }

    void notesAndEmptyCapture() {
        auto store = steadyCapture(10, 5000, 0);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        const QRect calibrationNote(kOriginX + 300, kOriginY - 575, 500, 15);
        const QRect rangeNote(kOriginX + 1100, kOriginY - 50, 85, 35);
        QImage image = view.paintToImage();
        QCOMPARE(countColour(image, calibrationNote, kGreen), 0);
        QCOMPARE(countColour(image, rangeNote, kGreen), 0);

        store->recordBytes(0)[1] = 1;
        view.setCurrentRange(5000);
        image = view.paintToImage();
        QVERIFY(countColour(image, calibrationNote, kGreen) > 50);
        QVERIFY(countColour(image, rangeNote, kGreen) > 30);
        QCOMPARE(pixelAt(image, 150, 500), kRed & 0xFFFFFF);

        store->setCount(1);
        image = view.paintToImage();
        QCOMPARE(countColour(image, QRect(kOriginX + 1, kOriginY - 599, 1098, 598), kRed), 0);
        QCOMPARE(pixelAt(image, 0, 300), qRgb(150, 150, 255) & 0xFFFFFF);
        // Voltage labels are still there.
        QVERIFY(countColour(image, QRect(0, kOriginY - 508, kOriginX, 15), kRed) > 5);
    }

    // Shown for the first time, the view fits the capture as 适合 does; a new
    // capture fits again, unless the user has chosen scales with the buttons.
    void theCaptureIsFittedWhenTheViewFirstShowsIt() {
        auto store = chargerCapture(2000);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        view.countChanged(2001);
        QCOMPARE(view.state().voltageScale(), 1);  // not shown yet: the saved scales
        view.show();
        QCOMPARE(view.state().packetsPerDivision(), 100);
        QCOMPARE(view.state().voltageScale(), 5);

        // A new capture: fitted once it has records.
        view.onCaptureCleared();
        store->setCount(1);
        view.countChanged(1);
        view.button("N-")->click();  // the user's own choice...
        const int chosen = view.state().packetsPerDivision();
        store->setCount(2001);
        view.countChanged(2001);
        QCOMPARE(view.state().packetsPerDivision(), chosen);  // ...is kept
        view.fitButton()->click();
        QCOMPARE(view.state().packetsPerDivision(), 100);
        view.onCaptureOpened();  // after 适合, an opened file fits again
        QCOMPARE(view.state().packetsPerDivision(), 100);
    }

    // With the default scales a 20 V session lies above the grid; 适合 brings all of it in.
    void fitButtonShowsTheSessionAndTheMouseReadsIt() {
        auto store = chargerCapture(2000);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        view.setCurrentRange(5000);
        view.countChanged(2001);
        view.fitButton()->click();
        QCOMPARE(view.state().packetsPerDivision(), 100);
        QCOMPARE(view.state().voltageScale(), 5);
        const QImage image = view.paintToImage();
        QVERIFY(countColour(image, QRect(kOriginX, 0, 1100, kOriginY), kRed) > 500);
        view.showReadingAt(kOriginX + 50 * 10);  // ten divisions of 100 past record 1
        QVERIFY2(view.readingText().startsWith(QStringLiteral("序号 1001    电压 11.9")),
                 qPrintable(view.readingText()));

        const QByteArray dir = qgetenv("UFCS_SCREENSHOT_DIR");
        if (dir.isEmpty()) return;
        QVERIFY(view.grab().save(
            QDir(QString::fromLocal8Bit(dir)).filePath(QStringLiteral("packet_curve.png"))));
    }

    // 保存图片 as PNG and SVG (the extension decides; none gives PNG), refused for other
    // kinds and unwritable places with a message; 复制图片 puts the view on the clipboard.
    void picturesAreSavedAndCopiedAsShown() {
        auto store = chargerCapture(2000);
        common::MemoryProfile profile;
        PacketCurveView view(*store, profile, false);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.countChanged(store->count());
        view.fitToData();
        testing_support::TestFolder folder("packet_curve_picture");
        QStringList messages;
        QString chosen;
        view.setPictureAskers([&] { return chosen; },
                              [&](const QString& text) { messages << text; });

        chosen = QString::fromStdString(folder.file("curve"));  // no extension: PNG
        view.savePictureButton()->click();
        QImage saved(chosen + ".png");
        QCOMPARE(saved.size(), view.size());
        // The red 20 V stretch is in the picture, as on the screen.
        QVERIFY(countColour(saved, saved.rect(), kRed) > 500);

        QVERIFY(view.savePictureTo(QString::fromStdString(folder.file("curve.svg"))));
        QFile svg(QString::fromStdString(folder.file("curve.svg")));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QByteArray text = svg.readAll();
        QVERIFY(text.contains("<svg"));
        QVERIFY(text.contains("<title>步骤曲线</title>"));
        QVERIFY(text.contains("polyline") || text.contains("<path"));
        QVERIFY(messages.isEmpty());

        const struct {
            const char* name;
            const char* told;
        } refused[] = {{"curve.bmp", "只能存为 .png 或 .svg"},
                       {"no-such-folder/curve.png", "无法保存图片"}};
        for (const auto& [name, told] : refused) {
            QVERIFY(!view.savePictureTo(QString::fromStdString(folder.file(name))));
            QVERIFY2(!messages.isEmpty() && messages.last().contains(QString::fromUtf8(told)),
                     qPrintable(messages.join("|")));
        }
        chosen.clear();  // cancelled: nothing happens
        const int told = int(messages.size());
        view.savePictureButton()->click();
        QCOMPARE(int(messages.size()), told);

        QGuiApplication::clipboard()->clear();
        view.copyPictureButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->image().size(), view.size());
    }
};

QTEST_MAIN(PacketCurveViewTest)
#include "packet_curve_view_test.moc"
