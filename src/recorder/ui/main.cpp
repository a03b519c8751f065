// oscillograph: the voltage/current recorder. `--simulate` uses the simulated
// instrument; a file given on the command line is opened.
#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include "qt/program_startup.h"
#include "recorder/ui/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);  // without a usable display Qt ends the process here
    if (qt_adapters::onlyCheckingTheDisplay()) return 0;
    std::optional<qt_adapters::StartedProgram> started = qt_adapters::startProgram(
        app, {QStringLiteral("Tarsel电压电流测量"), QStringLiteral("oscillograph.ini"),
              QStringLiteral("oscillograph")});
    if (!started) return 1;
    common::SystemClock clock;
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataDir);
    const std::filesystem::path journal = std::filesystem::path(
        QDir(dataDir).filePath(QStringLiteral("recovery.osa.journal")).toStdU16String());
    recorder::ui::MainWindow window(*started->instrument, *started->profile, clock, journal);
    QObject::connect(started->instance.get(), &qt_adapters::InstanceChannel::closeRequested,
                     &window, &QWidget::close);
    window.show();
    window.offerRecovery();
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            window.openFile(argument);
            break;
        }
    }
    return app.exec();
}
