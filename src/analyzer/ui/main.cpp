// color: the UFCS protocol analyzer. `--simulate` uses the simulated instrument.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>

#include "analyzer/ui/main_window.h"
#include "qt/settings_profile.h"
#include "simulator/instrument_choice.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TarselUFCS解析程序"));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("use the simulated instrument"));
    parser.addOption(simulate);
    parser.process(app);

    const QSize screen = QGuiApplication::primaryScreen()->size();
    if (screen.width() < 1024 || screen.height() < 768) {
        QMessageBox::information(
            nullptr, QString(),
            QStringLiteral("当前显示分辨率为%1x%2，请设置在1024x768或以上方可运行!")
                .arg(screen.width())
                .arg(screen.height()));
        return 1;
    }
    std::unique_ptr<ufcs::CaptureStore> store = ufcs::CaptureStore::create();
    if (!store) {
        QMessageBox::information(nullptr, QString(), QStringLiteral("内存不足！无法运行！"));
        return 1;
    }

    const std::unique_ptr<device::HidDevice> device =
        simulator::chooseInstrument({parser.isSet(simulate), nullptr,
                                     static_cast<uint32_t>(QDateTime::currentSecsSinceEpoch())});
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString settingsDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(settingsDir);
    qt_adapters::SettingsProfile profile(settingsDir + QStringLiteral("/color.ini"));
    common::SystemClock clock;

    const QSize available = QGuiApplication::primaryScreen()->availableSize();
    analyzer::ui::MainWindow window(
        *device, *store, profile, clock, programDir,
        analyzer::ui::layoutForScreen(available.width(), available.height()));
    window.show();
    return app.exec();
}
