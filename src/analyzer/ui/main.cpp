// color: the UFCS protocol analyzer. `--simulate` uses the simulated instrument.
#include <QApplication>
#include <QScreen>
#include <QTimer>

#include "analyzer/ui/main_window.h"
#include "qt/program/program_startup.h"
#include "simulator/instrument_choice.h"

namespace {

constexpr char kUsage[] =
    "usage: TarselUFCS解析程序 [--simulate[=N]] [--device SERIAL|PATH] [FILE.ufcs_stream [--row "
    "N]]\n"
    "The UFCS protocol analyzer; opens the capture FILE.ufcs_stream when given.\n"
    "  --row N         select record N of FILE (the rows a qualification report names)\n"
    "  --simulate[=N]  use N simulated instruments (so does UFCS_SIMULATE=N)\n"
    "  --device SERIAL|PATH\n"
    "                  the instrument to use; without it the first free one, or the one\n"
    "                  chosen when several are attached\n";

int runAnalyzer(QApplication& app, qt_adapters::StartedProgram& started) {
    std::unique_ptr<ufcs::CaptureStore> store = ufcs::CaptureStore::create();
    if (!store) {
        qt_adapters::showOutOfMemory();
        return 1;
    }
    common::SystemClock clock;
    const QSize available = QGuiApplication::primaryScreen()->availableSize();
    analyzer::ui::MainWindow window(
        *started.instrument, *store, *started.profile, clock,
        QCoreApplication::applicationDirPath(),
        analyzer::ui::layoutForScreen(available.width(), available.height()));
    if (started.instance)
        started.instance->serve(&window, [&window] { return window.captureUnsaved(); });
    window.show();
    // Once the event loop runs: a close asked for during a long open then ends the program.
    if (!started.file.isEmpty()) {
        const QString row = started.options.count("row") ? started.options.at("row") : QString();
        QTimer::singleShot(0, &window, [&window, file = started.file, row] {
            if (window.openCaptureFrom(file) && !row.isEmpty()) window.showRecordOnceListed(row);
        });
    }
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    const qt_adapters::ProgramIdentity identity{
        QStringLiteral("TarselUFCS解析程序"),
        QStringLiteral("color.ini"),
        QStringLiteral("color"),
        QStringLiteral("com.tarsel.UfcsAnalyzer"),
        [](const qt_adapters::InstrumentRequest& request) {
            return simulator::chooseInstruments(request.simulated, request.simulatedCount,
                                                request.device);
        },
        {{QStringLiteral("row"), QStringLiteral("select record N of the file"),
          QStringLiteral("N")}}};
    return qt_adapters::runProgram(argc, argv, identity, kUsage, runAnalyzer);
}
