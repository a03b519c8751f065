#include "qt/upgrade/program_update.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>

#include "net/http_download.h"
#include "qt/text.h"

namespace qt_adapters {
namespace {

QString sizeText(quint64 bytes) {
    return bytes >= 1 << 20 ? QString::number(bytes / 1048576.0, 'f', 1) + QStringLiteral(" MB")
                            : QString::number(bytes / 1024.0, 'f', 1) + QStringLiteral(" KB");
}

}  // namespace

QString findUpdater(const QString& programDir) {
    const QStringList candidates = {programDir + QStringLiteral("/TarselUFCS升级程序"),
                                    programDir + QStringLiteral("/TarselUFCS升级程序.exe"),
                                    programDir + QStringLiteral("/updater"),
                                    programDir + QStringLiteral("/../../updater/updater")};
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
    }
    return {};
}

bool askUnsignedConsent(QWidget* parent, const std::string& server) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("未签名的下载"),
                    fromStd(upgrade::unsignedWarning(server)) + QStringLiteral("\n\n仍然下载？"),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

net::HttpDownload* startFetch(const upgrade::FetchRequest& request, QObject* owner,
                              std::function<void(const upgrade::FetchResult&)> done,
                              std::function<void(quint64, qint64)> progress) {
    auto* download = new net::HttpDownload(request, owner);
    if (request.url.empty()) {
        // No server set, or no address offered: fails as an unreachable server would.
        QMetaObject::invokeMethod(
            owner,
            [download, done = std::move(done), request] {
                download->deleteLater();
                done(upgrade::fetchOrFail({}, request));
            },
            Qt::QueuedConnection);
        return download;
    }
    QObject::connect(download, &net::HttpDownload::finished, owner,
                     [download, done = std::move(done)](const upgrade::FetchResult& result) {
                         download->deleteLater();
                         done(result);
                     });
    if (progress) QObject::connect(download, &net::HttpDownload::progress, owner, progress);
    download->start();
    return download;
}

ProgramUpdate::ProgramUpdate(upgrade::UpgradedProgram program, upgrade::UpgradeSettings settings,
                             QString programDir, Controls controls, QObject* parent)
    : QObject(parent),
      program_(program),
      settings_(std::move(settings)),
      programDir_(std::move(programDir)),
      controls_(controls),
      startUpdater_(
          [](const QString& updater, const QStringList& arguments, const QString& folder) {
              return QProcess::startDetached(updater, arguments, folder);
          }),
      unsignedConsent_([this](const std::string& server) {
          return askUnsignedConsent(controls_.upgrade->window(), server);
      }) {
    controls_.upgrade->hide();
    if (controls_.cancel) {
        controls_.cancel->hide();
        connect(controls_.cancel, &QPushButton::clicked, this, &ProgramUpdate::cancel);
    }
    if (controls_.status) controls_.status->hide();
    connect(controls_.upgrade, &QPushButton::clicked, this, &ProgramUpdate::download);
}

ProgramUpdate::~ProgramUpdate() {
    if (running_) running_->cancel();
}

bool ProgramUpdate::busy() const {
    return running_ != nullptr;
}

void ProgramUpdate::check() {
    running_ = startFetch(upgrade::programQueryRequest(program_, settings_), this,
                          [this](const upgrade::FetchResult& reply) { takeReply(reply); });
}

void ProgramUpdate::takeReply(const upgrade::FetchResult& reply) {
    offer_ = upgrade::readProgramOffer(program_, reply);
    controls_.latest->setText(fromStd(offer_.label));
    controls_.upgrade->setVisible(offer_.newer);
    emit checked();
}

void ProgramUpdate::download() {
    if (busy() || !offer_.newer) return;
    if (const auto refusal =
            upgrade::programFolderRefusal(std::filesystem::path(programDir_.toStdU16String()))) {
        emit message(fromStd(*refusal));
        return;
    }
    if (settings_.publicKey.empty() && !unsignedConsent_(settings_.server)) return;
    controls_.upgrade->setEnabled(false);
    if (controls_.cancel) controls_.cancel->show();
    showStatus(QStringLiteral("正在下载…"));
    running_ = startFetch(
        upgrade::programDownloadRequest(offer_, downloadTarget()), this,
        [this](const upgrade::FetchResult& result) { takeDownload(result); },
        [this](quint64 received, qint64 total) {
            showStatus(QStringLiteral("正在下载 ") + sizeText(received) +
                       (total >= 0 ? QStringLiteral(" / ") + sizeText(quint64(total)) : QString()));
        });
}

void ProgramUpdate::cancel() {
    if (running_) running_->cancel();
}

void ProgramUpdate::takeDownload(const upgrade::FetchResult& result) {
    if (controls_.cancel) controls_.cancel->hide();
    controls_.upgrade->setEnabled(true);
    if (const auto refusal =
            upgrade::acceptProgramDownload(result, offer_, settings_, downloadTarget())) {
        showStatus(result.cancelled ? QStringLiteral("下载已取消，再次点击升级将从中断处继续")
                                    : fromStd(*refusal));
        return;
    }
    showStatus(QStringLiteral("下载完成，正在启动 TarselUFCS升级程序"));
    handOver();
}

// "k512.exe" or "k512_cur.exe" beside the program: the updater looks for it there.
std::filesystem::path ProgramUpdate::downloadTarget() const {
    return std::filesystem::path(programDir_.toStdU16String()) /
           std::string(upgrade::downloadName(program_));
}

void ProgramUpdate::handOver() {
    const QString updater = findUpdater(programDir_);
    const QStringList arguments = {fromStd(upgrade::updaterArgument(program_))};
    if (updater.isEmpty() || !startUpdater_(updater, arguments, programDir_))
        emit message(QString::fromUtf8(kUpdaterNotStarted));
    emit handedOver();
}

void ProgramUpdate::showStatus(const QString& text) {
    if (!controls_.status) return;
    controls_.status->setText(text);
    controls_.status->show();
}

}  // namespace qt_adapters
