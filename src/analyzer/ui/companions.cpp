#include "analyzer/ui/companions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace analyzer::ui {
namespace {

const QString kRecorderName = QStringLiteral("Tarsel电压电流测量");
const QString kManualName = QStringLiteral("ufcs分析仪使用说明.pdf");

}  // namespace

QString startRecorder(const QString& programDir) {
    // Installed beside the analyzer under its own name; in the build tree, the
    // recorder's target sits in its own folder.
    const QStringList candidates = {programDir + '/' + kRecorderName,
                                    programDir + QStringLiteral("/oscillograph"),
                                    programDir + QStringLiteral("/../../recorder/ui/oscillograph")};
    QString program;
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isExecutable()) {
            program = QFileInfo(candidate).canonicalFilePath();
            break;
        }
    }
    const QStringList arguments =
        QCoreApplication::arguments().contains(QStringLiteral("--simulate"))
            ? QStringList{QStringLiteral("--simulate")}
            : QStringList{};
    if (!program.isEmpty() && QProcess::startDetached(program, arguments, programDir)) return {};
    return QStringLiteral("找不到Tarsel电压电流测量.exe!,请确保该程序位于当前文件夹下！");
}

QString openManual(const QString& programDir, const std::function<bool(const QUrl&)>& openUrl) {
    const QString path = QFileInfo(programDir + '/' + kManualName).absoluteFilePath();
    if (!QFile::exists(path))
        return QStringLiteral(
            "无法打开 《ufcs分析仪使用说明.pdf》!\r\n请确认当前文件夹下是否有此文件");
    if (openUrl(QUrl::fromLocalFile(path))) return {};
    // The manual is there; what is missing is a program to show it.
    return QStringLiteral(
               "无法打开 《ufcs分析仪使用说明.pdf》：没有可以打开 PDF 文件的程序。"
               "\r\n请安装 PDF 阅读器，或直接打开：\r\n") +
           QDir::toNativeSeparators(path);
}

}  // namespace analyzer::ui
