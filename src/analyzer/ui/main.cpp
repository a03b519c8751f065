// color: the UFCS protocol analyzer. `--simulate` uses the simulated instrument.
#include <QApplication>
#include <QScreen>

#include "analyzer/ui/main_window.h"
#include "qt/program_startup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);  // without a usable display Qt ends the process here
    if (qt_adapters::onlyCheckingTheDisplay()) return 0;
    std::optional<qt_adapters::StartedProgram> started =
        qt_adapters::startProgram(app, {QStringLiteral("TarselUFCS解析程序"),
                                        QStringLiteral("color.ini"), QStringLiteral("color")});
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
    QObject::connect(started->instance.get(), &qt_adapters::InstanceChannel::closeRequested,
                     &window, &QWidget::close);
    window.show();
    return app.exec();
}
