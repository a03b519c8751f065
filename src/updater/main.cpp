// updater ("TarselUFCS升级程序"): finishes a program upgrade. Started with
// "k512 protocol" or "k512 Cur_Test" by the program it upgrades; anything else
// ends it at once, touching no file.
#include <QApplication>
#include <QDir>
#include <iostream>

#include "common/program_info.h"
#include "common/user_folders.h"
#include "qt/instance_channel.h"
#include "qt/program_startup.h"
#include "qt/translations.h"
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

    const QString instance =
        QString::fromUtf8(row->buildName.data(), qsizetype(row->buildName.size()));
    std::string problem;
    const std::optional<std::filesystem::path> private_ = common::privateRuntimeFolder(problem);
    const QString lockFolder =
        private_ ? QString::fromStdU16String(private_->u16string()) : QString();
    const std::optional<std::filesystem::path> program = updater::programIn(folder, *row);
    // Only the program in this folder is asked to close: the one that will be swapped.
    const qt_adapters::CloseRequest request{
        instance, lockFolder, program ? QString::fromStdU16String(program->u16string()) : QString(),
        1000};
    updater::UpdateHooks hooks;
    hooks.askToClose = [request](const std::function<void()>& userAsked) {
        if (request.folder.isEmpty()) return updater::CloseResult{};
        const qt_adapters::CloseAnswer answer = qt_adapters::requestClose(request, userAsked);
        switch (answer.reply) {
            case qt_adapters::CloseReply::Closing:
                return updater::CloseResult{updater::CloseAnswer::Closing, {}};
            case qt_adapters::CloseReply::Kept:
                return updater::CloseResult{updater::CloseAnswer::Kept, {}};
            case qt_adapters::CloseReply::Other:
                return updater::CloseResult{updater::CloseAnswer::Other,
                                            answer.other.toStdString()};
            case qt_adapters::CloseReply::NoInstance:
                break;
        }
        return updater::CloseResult{};
    };
    hooks.stillRunning = updater::programRunning;
    hooks.launch = updater::launchAndWatch;
    updater::UpdaterWindow window(*row, folder, hooks);
    window.show();
    window.start();
    return app.exec();
}
