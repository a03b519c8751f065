// oscillograph: the voltage/current recorder. `--simulate` uses the simulated
// instrument; a file given on the command line is opened.
#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <iostream>

#include "common/program_info.h"
#include "qt/program_startup.h"
#include "recorder/ui/main_window.h"

namespace {

constexpr char kName[] = "Tarsel电压电流测量";
constexpr char kUsage[] =
    "usage: Tarsel电压电流测量 [--simulate] [FILE.osa]\n"
    "The UFCS instrument's voltage and current recorder; opens FILE.osa when given.\n"
    "  --simulate      use the simulated instrument (so does UFCS_SIMULATE=1)\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered =
            common::answerHelpOrVersion({argv + 1, argv + argc}, kName, kUsage, std::cout))
        return *answered;
    QApplication app(argc, argv);  // without a usable display Qt ends the process here
    if (qt_adapters::onlyCheckingTheDisplay()) return 0;
    std::optional<qt_adapters::StartedProgram> started = qt_adapters::startProgram(
        app, {QString::fromUtf8(kName), QStringLiteral("oscillograph.ini"),
              QStringLiteral("oscillograph"), QStringLiteral("com.tarsel.UfcsRecorder")});
    if (!started) return 1;
    common::SystemClock clock;
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataDir);
    recorder::ui::MainWindow window(*started->instrument, *started->profile, clock,
                                    std::filesystem::path(dataDir.toStdU16String()));
    if (started->instance)
        started->instance->serve(&window, [&window] { return window.document().modified.load(); });
    window.show();
    window.offerRecovery();
    if (!started->file.isEmpty()) window.openFile(started->file);
    return app.exec();
}
