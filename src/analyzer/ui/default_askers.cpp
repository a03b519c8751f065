// What the analyzer's window asks its user, and how it tells them: message
// boxes and the file dialogs (tests put their own answers in their place).
#include <QDesktopServices>
#include <QFileDialog>

#include "analyzer/ui/main_window.h"
#include "analyzer/ui/packet_curve_view.h"
#include "qt/picture_export.h"
#include "qt/save_question.h"

namespace analyzer::ui {
namespace {

const QString kFileFilter = QStringLiteral("UFCS(*.ufcs_stream);;所有文件(*.*)");
// Opening also takes a logic analyzer's recordings of D+ and D-.
const QString kOpenFilter = QStringLiteral(
    "UFCS 或逻辑分析仪(*.ufcs_stream *.sr *.dsl *.vcd *.csv);;UFCS(*.ufcs_stream);;"
    "逻辑分析仪 sigrok、DSView、VCD、CSV(*.sr *.dsl *.vcd *.csv);;所有文件(*.*)");
const QString kCsvUtf8Filter = QStringLiteral("CSV UTF-8 (*.csv)");
const QString kCsvGbkFilter = QStringLiteral("CSV GBK (*.csv)");
const QString kTextFilter = QStringLiteral("文本 (*.txt)");
const QString kPcapngFilter = QStringLiteral("Wireshark pcapng (*.pcapng)");

}  // namespace

void MainWindow::setDefaultAskers() {
    askers_.message = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };
    askers_.runModeDialog = [](ModeDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    askers_.runRefusalDialog = [](RefusalDialog& dialog) {
        return dialog.exec() == QDialog::Accepted;
    };
    askers_.runLogicLinesDialog = [](LogicLinesDialog& dialog) {
        return dialog.exec() == QDialog::Accepted;
    };
    askers_.runFilterPopup = [](FilterPopup& popup) { return popup.exec() == QDialog::Accepted; };
    askers_.saveQuestion = [this] { return qt_adapters::askToSave(this, windowTitle()); };
    askers_.confirm = [this](const QString& text) {
        return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
    };
    askers_.chooseOpenPath = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("打开文件"), dialogFolder_.start(),
                                            kOpenFilter);
    };
    askers_.chooseSavePath = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("保存文件"),
                                            dialogFolder_.suggest(QStringLiteral("my")),
                                            kFileFilter);
    };
    askers_.chooseExport = [this] {
        QString filter = kCsvUtf8Filter;
        ExportChoice choice;
        choice.path = QFileDialog::getSaveFileName(
            this, QStringLiteral("导出"), dialogFolder_.suggest(QStringLiteral("my")),
            kCsvUtf8Filter + ";;" + kCsvGbkFilter + ";;" + kTextFilter + ";;" + kPcapngFilter,
            &filter);
        choice.pcapng = filter == kPcapngFilter;
        choice.format = filter == kTextFilter     ? ufcs::RowExportFormat::Text
                        : filter == kCsvGbkFilter ? ufcs::RowExportFormat::CsvGbk
                                                  : ufcs::RowExportFormat::CsvUtf8;
        return choice;
    };
    askers_.chooseReportFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("保存报告到文件夹"),
                                                 dialogFolder_.start());
    };
    askers_.choosePlanFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("测试计划"), dialogFolder_.start(),
                                            QStringLiteral("测试计划(*.ini *.txt);;所有文件(*.*)"));
    };
    askers_.choosePicturePath = [this] {
        const QString path =
            QFileDialog::getSaveFileName(curveView(), QStringLiteral("保存图片"),
                                         dialogFolder_.suggest(QStringLiteral("步骤曲线.png")),
                                         qt_adapters::pictureFileFilter());
        if (!path.isEmpty()) dialogFolder_.remember(path);
        return path;
    };
    askers_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
#if UFCS_WITH_UPGRADES
    askers_.runUpgradeDialog = [](UpgradeDialog& dialog) { dialog.exec(); };
#endif
}

}  // namespace analyzer::ui
