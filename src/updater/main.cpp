// updater ("TarselUFCS升级程序"): finishes a program upgrade. Started with
// "k512 protocol" or "k512 Cur_Test" by the program it upgrades; anything else
// ends it at once, touching no file.
#include <QApplication>
#include <QDir>
#include <iostream>

#include "common/program_info.h"
#include "common/user_folders.h"
#include "qt/translations.h"
#include "updater/close_request.h"
#include "updater/updater_window.h"

namespace {

constexpr char kName[] = "TarselUFCS升级程序";
constexpr char kUsage[] =
    "usage: TarselUFCS升级程序 'k512 protocol' | 'k512 Cur_Test'\n"
    "Started by the analyzer or the recorder after it has downloaded a newer\n"
    "version: closes the program, swaps its executable and restarts it. Any other\n"
    "argument ends it at once without touching a file.\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered =
            common::answerHelpOrVersion({argv + 1, argv + argc}, kName, kUsage, std::cout))
        return *answered;
    QApplication app(argc, argv);
    qt_adapters::keepNumbersInTheCLocale();
    qt_adapters::installChineseTranslations(app);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const updater::UpdateRow* row =
        arguments.size() == 1 ? updater::rowFor(arguments[0].toStdString()) : nullptr;
    if (!row) return 0;
    // Installed, the programs share the updater's folder; in a build tree the
    // program started the updater from its own folder.
    std::filesystem::path folder(QCoreApplication::applicationDirPath().toStdU16String());
    updater::restoreMissingProgram(folder, *row);
    if (!updater::programIn(folder, *row))
        folder = std::filesystem::path(QDir::currentPath().toStdU16String());

    std::string problem;
    const std::optional<std::filesystem::path> lockFolder = common::privateRuntimeFolder(problem);
    const std::optional<std::filesystem::path> program = updater::programIn(folder, *row);
    // Only the program in this folder is asked to close: the one that will be swapped.
    const updater::CloseRequest request{std::string(row->buildName),
                                        lockFolder.value_or(std::filesystem::path()),
                                        program.value_or(std::filesystem::path())};
    updater::UpdateHooks hooks;
    hooks.askToClose = [request](const std::function<void()>& userAsked) {
        if (request.folder.empty()) return updater::CloseResult{};
        return updater::requestClose(request, userAsked);
    };
    hooks.stillRunning = updater::programRunning;
    hooks.launch = updater::launchAndWatch;
    updater::UpdaterWindow window(*row, folder, hooks);
    window.show();
    window.start();
    return app.exec();
}
