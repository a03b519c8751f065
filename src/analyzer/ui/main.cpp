// color: the UFCS protocol analyzer. `--simulate` uses the simulated instrument.
#include <QApplication>
#include <QScreen>
#include <iostream>

#include "analyzer/ui/main_window.h"
#include "common/program_info.h"
#include "qt/program_startup.h"

namespace {

constexpr char kName[] = "TarselUFCS解析程序";
constexpr char kUsage[] =
    "usage: TarselUFCS解析程序 [--simulate] [FILE.ufcs_stream]\n"
    "The UFCS protocol analyzer; opens the capture FILE.ufcs_stream when given.\n"
    "  --simulate      use the simulated instrument (so does UFCS_SIMULATE=1)\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered =
            common::answerHelpOrVersion({argv + 1, argv + argc}, kName, kUsage, std::cout))
        return *answered;
    QApplication app(argc, argv);  // without a usable display Qt ends the process here
    if (qt_adapters::onlyCheckingTheDisplay()) return 0;
    std::optional<qt_adapters::StartedProgram> started = qt_adapters::startProgram(
        app, {QString::fromUtf8(kName), QStringLiteral("color.ini"), QStringLiteral("color"),
              QStringLiteral("com.tarsel.UfcsAnalyzer")});
    if (!started) return 1;
    std::unique_ptr<ufcs::CaptureStore> store = ufcs::CaptureStore::create();
    if (!store) {
        qt_adapters::showOutOfMemory();
        return 1;
    }
    common::SystemClock clock;
    const QSize available = QGuiApplication::primaryScreen()->availableSize();
    analyzer::ui::MainWindow window(
        *started->instrument, *store, *started->profile, clock,
        QCoreApplication::applicationDirPath(),
        analyzer::ui::layoutForScreen(available.width(), available.height()));
    if (started->instance)
        started->instance->serve(&window, [&window] { return window.captureUnsaved(); });
    window.show();
    if (!started->file.isEmpty()) window.openCaptureFrom(started->file);
    return app.exec();
}
