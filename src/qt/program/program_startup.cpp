#include "qt/program/program_startup.h"
#include "qt/program/instrument_chooser.h"
#include "qt/translations.h"

#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <algorithm>
#include <iostream>

#include "common/program_info.h"
#include "common/user_folders.h"
#include "common/version.h"

namespace qt_adapters {
namespace {

bool screenLargeEnough() {
    const QSize screen = QGuiApplication::primaryScreen()->size();
    if (screen.width() >= 1024 && screen.height() >= 768) return true;
    QMessageBox::information(
        nullptr, QString(),
        QStringLiteral("当前显示分辨率为%1x%2，请设置在1024x768或以上方可运行!")
            .arg(screen.width())
            .arg(screen.height()));
    return false;
}

const QString kCheckDisplay = QStringLiteral("check-display");

// `--simulate=N` taken out of the arguments (Qt's parser knows only the bare
// flag); nothing, after telling the user, for a count that is not one.
std::optional<QStringList> withoutSimulatedCount(QStringList arguments, unsigned& count) {
    for (QString& argument : arguments) {
        if (!argument.startsWith(QStringLiteral("--simulate="))) continue;
        bool valid = false;
        count = argument.mid(11).toUInt(&valid);
        if (!valid || count < 1 || count > device::kMostSimulatedInstruments) {
            QMessageBox::information(nullptr, QString(),
                                     QStringLiteral("%1：模拟仪器的数目应为 1 到 %2")
                                         .arg(argument)
                                         .arg(device::kMostSimulatedInstruments));
            return std::nullopt;
        }
        argument = QStringLiteral("--simulate");
    }
    return arguments;
}

}  // namespace

bool onlyCheckingTheDisplay() {
    return QCoreApplication::arguments().contains("--" + kCheckDisplay);
}

std::optional<StartedProgram> startProgram(QApplication& app, const ProgramIdentity& identity) {
    keepNumbersInTheCLocale();
    QApplication::setApplicationName(identity.applicationName);
    QApplication::setApplicationVersion(QString::fromUtf8(common::kVersionText));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(identity.desktopId);
    installChineseTranslations(app);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("use the simulated instrument"));
    parser.addOption(simulate);
    const QCommandLineOption deviceOption(
        QStringLiteral("device"), QStringLiteral("the instrument to use (serial number or path)"),
        QStringLiteral("SERIAL|PATH"));
    parser.addOption(deviceOption);
    parser.addOption(QCommandLineOption(
        kCheckDisplay, QStringLiteral("only check that the display opens, then end")));
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("a file to open"));
    for (const ProgramOption& own : identity.ownOptions)
        parser.addOption(QCommandLineOption(own.name, own.description, own.valueName));
    InstrumentRequest request;
    const std::optional<QStringList> arguments =
        withoutSimulatedCount(QCoreApplication::arguments(), request.simulatedCount);
    if (!arguments) return std::nullopt;
    parser.process(*arguments);
    if (!screenLargeEnough()) return std::nullopt;

    StartedProgram started;
    started.file = parser.positionalArguments().value(0);
    for (const ProgramOption& own : identity.ownOptions) {
        if (parser.isSet(own.name)) started.options[own.name] = parser.value(own.name);
    }
    // UFCS_SIMULATE carries the choice across a restart by the updater, which
    // starts the program without arguments.
    request.simulated = parser.isSet(simulate) || qEnvironmentVariableIsSet("UFCS_SIMULATE");
    if (!parser.isSet(simulate) && request.simulated)
        request.simulatedCount = std::clamp(qEnvironmentVariableIntValue("UFCS_SIMULATE"), 1,
                                            int(device::kMostSimulatedInstruments));
    request.device = parser.value(deviceOption).toStdString();
    started.instrument = identity.chooseInstrument(request);
    chooseAmongAttached(*started.instrument);
    const QString settingsDir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(settingsDir);
    started.profile =
        std::make_unique<SettingsProfile>(QDir(settingsDir).filePath(identity.settingsFileName));
    // The channel lives only where nobody but the user can reach it.
    std::string problem;
    if (const std::optional<std::filesystem::path> folder = common::privateRuntimeFolder(problem)) {
        started.instance = std::make_unique<InstanceChannel>(
            identity.instanceName, QString::fromStdU16String(folder->u16string()));
    } else {
        qWarning("%s: no instance channel (%s); the updater cannot ask this program to close",
                 qPrintable(identity.applicationName), problem.c_str());
    }
    return started;
}

int runProgram(int argc, char** argv, const ProgramIdentity& identity, const char* usage,
               const std::function<int(QApplication&, StartedProgram&)>& run) {
    const std::string name = identity.applicationName.toStdString();
    if (const auto answered =
            common::answerHelpOrVersion({argv + 1, argv + argc}, name, usage, std::cout))
        return *answered;
    QApplication app(argc, argv);  // without a usable display Qt ends the process here
    if (onlyCheckingTheDisplay()) return 0;
    std::optional<StartedProgram> started = startProgram(app, identity);
    if (!started) return 1;
    return run(app, *started);
}

void showOutOfMemory() {
    QMessageBox::information(nullptr, QString(), QStringLiteral("内存不足！无法运行！"));
}

}  // namespace qt_adapters
