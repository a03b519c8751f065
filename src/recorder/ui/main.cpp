// oscillograph: the voltage/current recorder. `--simulate` uses the simulated
// instrument; a file given on the command line is opened.
#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTimer>

#include "qt/program/program_startup.h"
#include "recorder/ui/main_window.h"
#include "simulator/instrument_choice.h"

namespace {

constexpr char kUsage[] =
    "usage: Tarsel电压电流测量 [--simulate[=N]] [--device SERIAL|PATH] [FILE.osa]\n"
    "The UFCS instrument's voltage and current recorder; opens FILE.osa when given.\n"
    "  --simulate[=N]  use N simulated instruments (so does UFCS_SIMULATE=N)\n"
    "  --device SERIAL|PATH\n"
    "                  the instrument to use; without it the first free one, or the one\n"
    "                  chosen when several are attached\n";

int runRecorder(QApplication& app, qt_adapters::StartedProgram& started) {
    common::SystemClock clock;
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataDir);
    recorder::ui::MainWindow window(*started.instrument, *started.profile, clock,
                                    std::filesystem::path(dataDir.toStdU16String()));
    if (started.instance)
        started.instance->serve(&window, [&window] { return window.document().modified.load(); });
    window.show();
    // Once the event loop runs: a close asked for meanwhile (from the instance channel,
    // during a long open or the recovery question) then ends the program.
    QTimer::singleShot(0, &window, [&window, file = started.file] {
        window.offerRecovery();
        if (!file.isEmpty()) window.openFile(file);
    });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    const qt_adapters::ProgramIdentity identity{QStringLiteral("Tarsel电压电流测量"),
                                                QStringLiteral("oscillograph.ini"),
                                                QStringLiteral("oscillograph"),
                                                QStringLiteral("com.tarsel.UfcsRecorder"),
                                                [](const qt_adapters::InstrumentRequest& request) {
                                                    return simulator::chooseInstruments(
                                                        request.simulated, request.simulatedCount,
                                                        request.device);
                                                },
                                                {}};
    return qt_adapters::runProgram(argc, argv, identity, kUsage, runRecorder);
}
