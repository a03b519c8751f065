// `ufcs plot`: a test file and a capture drawn by the windows' views into PNG
// and SVG, and every way the command line can be wrong.
#include <QFile>
#include <QImage>
#include <QTest>
#include <sstream>

#include "analyzer/capture_feed.h"
#include "cli/cli.h"
#include "cli/plot_command.h"
#include "recorder/osa_file.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"

namespace {

struct Run {
    int status = 0;
    std::string err;
};

Run plotLine(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    std::vector<std::string> line = {"plot"};
    line.insert(line.end(), args.begin(), args.end());
    const int status = cli::runCli(line, out, err, {}, cli::runPlot);
    return {status, err.str()};
}

int countNear(const QImage& image, QRgb colour) {
    int found = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            found += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return found;
}

}  // namespace

class PlotCommandTest : public QObject {
    Q_OBJECT
    std::unique_ptr<testing_support::TestFolder> folder_;
    std::string file(const char* name) const { return folder_->file(name); }

  private slots:
    void init() {
        folder_ = std::make_unique<testing_support::TestFolder>("plot_command_test");
        recorder::SampleDocument document;
        for (int i = 0; i < 600; ++i)  // a minute: 5 V, then 9 V at 2 A
            document.appendSample(i < 300 ? 5000 : 9000, i < 300 ? 500 : 2000, {true, false, true});
        QVERIFY(recorder::saveOsa(document, file("minute.osa")).ok);
        auto store = ufcs::CaptureStore::create();
        analyzer::CaptureFeed feed(*store, {});
        simulator::BusTraffic traffic(simulator::BusTraffic::Options(4, 0.0));
        for (int i = 0; i < 200; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
        QVERIFY(ufcs::SaveCapture(*store, file("bus.ufcs_stream")).ok);
    }
    void cleanup() { folder_.reset(); }

    void aRecordingIsDrawnAsTheWindowDrawsIt() {
        const Run png = plotLine({file("minute.osa"), "-o", file("minute.png")});
        QCOMPARE(png.status, 0);
        QVERIFY(png.err.find("已保存图片") != std::string::npos);
        const QImage image(QString::fromStdString(file("minute.png")));
        QCOMPARE(image.width(), 1400);
        QVERIFY(image.height() > 800);                     // the view, and the heading above it
        QVERIFY(countNear(image, qRgb(255, 0, 0)) > 200);  // the voltage trace

        const Run svg = plotLine({file("minute.osa"), "-o", file("zone.svg"), "--from", "20",
                                  "--to", "40", "--width", "900", "--height", "500"});
        QCOMPARE(svg.status, 0);
        QFile text(QString::fromStdString(file("zone.svg")));
        QVERIFY(text.open(QIODevice::ReadOnly));
        const QString content = QString::fromUtf8(text.readAll());
        QVERIFY(content.contains(QStringLiteral("<svg")));
        QVERIFY(content.contains(QStringLiteral("minute.osa")));
        QVERIFY(content.contains(
            QStringLiteral("时间区线 20.0")));               // the generator splits text at spaces
        QVERIFY(content.contains(QStringLiteral(">t=20")));  // Δt, what the zone lines measure
    }

    void aCaptureIsDrawnAsItsPacketCurve() {
        QCOMPARE(plotLine({file("bus.ufcs_stream"), "-o", file("bus.png")}).status, 0);
        QCOMPARE(QImage(QString::fromStdString(file("bus.png"))).width(), 1240);
        QCOMPARE(
            plotLine({file("bus.ufcs_stream"), "-o", file("small.png"), "--width", "1000"}).status,
            0);
        QCOMPARE(QImage(QString::fromStdString(file("small.png"))).width(), 1000);
    }

    void wrongLinesAreRefused() {
        const struct {
            std::vector<std::string> args;
            int status;
            const char* told;
        } cases[] = {
            {{file("minute.osa")}, 2, "-o OUT.png or -o OUT.svg is required"},
            {{file("minute.osa"), "-o", file("m.jpg")}, 2, "a picture is .png or .svg"},
            {{file("minute.osa"), "-o", file("m.png"), "--width", "10"}, 2, "--width"},
            {{file("minute.osa"), "-o", file("m.png"), "--from", "40", "--to", "20"},
             2,
             "is no part of the test"},
            {{file("minute.osa"), "-o", file("m.png"), "--from", "x"}, 2, "is not a time"},
            {{file("bus.ufcs_stream"), "-o", file("b.png"), "--from", "1"},
             2,
             "--from and --to are times in a recording"},
            {{file("none.osa"), "-o", file("m.png")}, 1, "none.osa"},
            {{file("minute.osa"), "-o", file("no-folder/m.png")}, 1, "无法保存图片"},
        };
        for (const auto& [args, status, told] : cases) {
            const Run run = plotLine(args);
            QCOMPARE(run.status, status);
            QVERIFY2(run.err.find(told) != std::string::npos, run.err.c_str());
        }
        QVERIFY(!QFile::exists(QString::fromStdString(file("m.png"))));
        // A build that passes no picture maker says so.
        std::ostringstream out, err;
        QCOMPARE(cli::runCli({"plot", file("minute.osa"), "-o", file("m.png")}, out, err), 2);
        QVERIFY(err.str().find("no pictures") != std::string::npos);
    }
};

QTEST_MAIN(PlotCommandTest)
#include "plot_command_test.moc"
