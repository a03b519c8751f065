// `ufcs plot`: a recording's waveform or a capture's packet curve as a PNG or
// SVG picture, drawn by the windows' own views (offscreen), with a heading.
#include <QApplication>
#include <QPushButton>
#include <cmath>
#include <ostream>

#include "analyzer/ui/packet_curve_view.h"
#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "cli/plot_command.h"
#include "common/format.h"
#include "common/integer_field.h"
#include "common/profile.h"
#include "qt/picture_export.h"
#include "qt/text.h"
#include "recorder/osa_file.h"
#include "recorder/ui/waveform_view.h"
#include "recorder/waveform.h"
#include "ufcs/list_row.h"

namespace cli {
namespace {

constexpr int kDefaultWidth = 1400, kDefaultHeight = 800;

std::optional<int> sizeOption(const Arguments& parsed, const char* option, int fallback, int least,
                              int most, std::ostream& err) {
    if (!parsed.values.count(option)) return fallback;
    const common::IntegerField field = common::checkIntegerField(parsed.value(option), least, most);
    if (field.problem) {
        reportBadArgument("plot", std::string(option) + ": " + plainPrompt(*field.problem), err);
        return std::nullopt;
    }
    return static_cast<int>(field.value);
}

bool save(QWidget& view, const std::string& output, const QString& title,
          const QStringList& heading, std::ostream& err) {
    const common::FileResult saved =
        qt_adapters::saveWidgetPicture(view, QString::fromStdString(output), title, heading);
    if (!saved.ok) {
        err << saved.message << '\n';
        return false;
    }
    err << "已保存图片 " << common::displayPath(pathArgument(output)) << '\n';
    return true;
}

int plotRecording(const Arguments& parsed, const std::string& name, QSize size, std::ostream& err) {
    const recorder::OsaLoad load = recorder::loadOsa(pathArgument(parsed.positional[0]));
    if (!load.document) {
        err << load.message << '\n';
        return 1;
    }
    recorder::SampleDocument& document = *load.document;
    recorder::ui::WaveformView view(document);
    view.resize(size);
    view.setTotals(recorder::documentTotals(document));
    view.documentReplaced(true);
    const uint32_t count = document.channel(recorder::kVoltageChannel).count();
    const double lastSecond = count > 0 ? (count - 1) * document.period : 0;
    QStringList heading = {qt_adapters::fromStd(name)};
    if (parsed.values.count("--from") || parsed.values.count("--to")) {
        std::optional<double> from = 0.0, to = lastSecond;
        if (parsed.values.count("--from")) from = secondsInTest(parsed, "--from", "plot", err);
        if (!from) return 2;
        if (parsed.values.count("--to")) to = secondsInTest(parsed, "--to", "plot", err);
        if (!to) return 2;
        if (*from >= *to || *from > lastSecond) {
            reportBadArgument("plot",
                              common::format("--from %g --to %g is no part of the test (0 to %g s)",
                                             *from, *to, lastSecond),
                              err);
            return 2;
        }
        view.setTimeLines(*from / document.period, std::min(*to, lastSecond) / document.period);
        heading << qt_adapters::fromStd(
            common::format("时间区线 %.1f s - %.1f s", *from, std::min(*to, lastSecond)));
    }
    return save(view, parsed.value("-o"), qt_adapters::fromStd(name), heading, err) ? 0 : 1;
}

int plotCapture(const Arguments& parsed, const std::string& name, QSize size, std::ostream& err) {
    if (parsed.values.count("--from") || parsed.values.count("--to")) {
        reportBadArgument("plot", "--from and --to are times in a recording (.osa)", err);
        return 2;
    }
    const std::optional<LoadedCapture> capture = loadCapture(parsed.positional[0], err);
    if (!capture) return 1;
    const ufcs::CaptureStore& store = *capture->store;
    common::MemoryProfile profile;
    // The curve has the window's two fixed sizes: narrower than 1240 is the small one.
    analyzer::ui::PacketCurveView view(store, profile, size.width() < 1240);
    view.countChanged(store.count());
    view.fitToData();
    // A picture made here has nobody to press the window's picture buttons.
    view.savePictureButton()->hide();
    view.copyPictureButton()->hide();
    const int64_t spanUs =
        store.count() > 2 ? store.record(store.count() - 1).timeUs() - store.record(1).timeUs() : 0;
    const QStringList heading = {
        qt_adapters::fromStd(name),
        qt_adapters::fromStd(common::format("记录 %u 条，时长 %s", store.count(),
                                            ufcs::durationText(spanUs).c_str()))};
    return save(view, parsed.value("-o"), qt_adapters::fromStd(name), heading, err) ? 0 : 1;
}

}  // namespace

int runPlot(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(
        args, {"plot", {}, {{"-o"}, {"--from"}, {"--to"}, {"--width"}, {"--height"}}, {"FILE"}},
        err);
    if (!parsed) return 2;
    if (!parsed->values.count("-o")) {
        reportBadArgument("plot", "-o OUT.png or -o OUT.svg is required", err);
        return 2;
    }
    if (!qt_adapters::isPicturePath(QString::fromStdString(parsed->value("-o")))) {
        reportBadArgument("plot", "-o '" + parsed->value("-o") + "': a picture is .png or .svg",
                          err);
        return 2;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        err << "ufcs plot: no Qt application to draw with\n";
        return 1;
    }
    const std::optional<int> width = sizeOption(*parsed, "--width", kDefaultWidth, 600, 8000, err);
    if (!width) return 2;
    const std::optional<int> height =
        sizeOption(*parsed, "--height", kDefaultHeight, 400, 4000, err);
    if (!height) return 2;
    const std::filesystem::path path = pathArgument(parsed->positional[0]);
    const std::string name = common::displayPath(path.filename());
    if (path.extension() == ".osa")
        return plotRecording(*parsed, name, QSize(*width, *height), err);
    return plotCapture(*parsed, name, QSize(*width, *height), err);
}

}  // namespace cli
