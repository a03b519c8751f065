#include "net/http_download.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>
#include <cerrno>
#include <system_error>

#include "common/format.h"
#include "upgrade/download_checks.h"

namespace net {
namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

std::string readSource(const std::string& path) {
    QFile file(fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().toStdString();
}

bool writeSource(const std::string& path, const std::string& url) {
    QSaveFile file(fromUtf8(path));
    return file.open(QIODevice::WriteOnly) && file.write(url.data(), qint64(url.size())) &&
           file.commit();
}

// "bytes 1234-..." of a 206 answer must start where the partial file ends.
bool resumesAt(const QByteArray& contentRange, quint64 offset) {
    return contentRange.startsWith("bytes " + QByteArray::number(offset) + "-");
}

std::string networkError(QNetworkReply& reply) {
    const std::string reason = reply.errorString().toStdString();
    switch (reply.error()) {
        case QNetworkReply::ConnectionRefusedError:
        case QNetworkReply::HostNotFoundError:
            return "下载失败：无法连接服务器（" + reason + "）";
        case QNetworkReply::RemoteHostClosedError:
            return "下载失败：连接在下载中途断开（" + reason + "）";
        case QNetworkReply::SslHandshakeFailedError:
            return "下载失败：无法建立安全连接（" + reason + "）";
        default:
            return "下载失败：" + reason;
    }
}

}  // namespace

HttpDownload::HttpDownload(upgrade::FetchRequest request, QObject* parent)
    : QObject(parent), request_(std::move(request)) {
    stallTimer_.setSingleShot(true);
    connect(&stallTimer_, &QTimer::timeout, this, [this] {
        fail(common::format("下载超时：%lld 秒内没有收到数据",
                            static_cast<long long>(stallTimeout_.count() / 1000)));
    });
    deadlineTimer_.setSingleShot(true);
    connect(&deadlineTimer_, &QTimer::timeout, this, [this] {
        fail(common::format("下载超时：%.1f 秒内没有下载完",
                            request_.replyDeadline.count() / 1000.0));
    });
    connect(&rateTimer_, &QTimer::timeout, this, &HttpDownload::checkRate);
}

void HttpDownload::checkRate() {
    const double seconds = request_.rateWindow.count() / 1000.0;
    const quint64 gained = received_ - receivedAtRateCheck_;
    receivedAtRateCheck_ = received_;
    if (static_cast<double>(gained) < request_.leastRate * seconds) {
        fail(common::format("下载太慢：%.1f 秒只收到 %llu 字节（至少要每秒 %zu 字节）", seconds,
                            static_cast<unsigned long long>(gained), request_.leastRate));
    }
}

HttpDownload::~HttpDownload() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

void HttpDownload::start() {
    if (const auto refusal = upgrade::refusedScheme(request_.url)) {
        QTimer::singleShot(0, this, [this, text = *refusal] { fail(text); });
        return;
    }
    if (!request_.resumeFile.empty() && !openPartialFile()) {
        QTimer::singleShot(0, this, [this] {
            fail("无法写入下载文件 " + upgrade::partialFileOf(request_.resumeFile) + "：" +
                 partial_.errorString().toStdString());
        });
        return;
    }
    static const bool systemProxies = [] {
        QNetworkProxyFactory::setUseSystemConfiguration(true);
        return true;
    }();
    (void)systemProxies;
    manager_ = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(fromUtf8(request_.url)));
    if (resumedFrom_ > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resumedFrom_) + "-");
    reply_ = manager_->get(request);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &HttpDownload::onHeaders);
    connect(reply_, &QNetworkReply::readyRead, this, &HttpDownload::onData);
    connect(reply_, &QNetworkReply::finished, this, &HttpDownload::onFinished);
    stallTimer_.start(stallTimeout_);
    if (request_.replyDeadline.count() > 0) deadlineTimer_.start(request_.replyDeadline);
    if (request_.leastRate > 0 && request_.rateWindow.count() > 0) {
        receivedAtRateCheck_ = received_;
        rateTimer_.start(request_.rateWindow);
    }
}

bool HttpDownload::openPartialFile() {
    const std::string partial = upgrade::partialFileOf(request_.resumeFile);
    const std::string source = upgrade::partialSourceOf(request_.resumeFile);
    partial_.setFileName(fromUtf8(partial));
    if (readSource(source) == request_.url && partial_.exists()) {
        resumedFrom_ = static_cast<quint64>(partial_.size());
    } else {
        partial_.remove();
        if (!writeSource(source, request_.url)) return false;
    }
    received_ = resumedFrom_;
    // Unbuffered: a write that fails (a full disk) says so at once, with the system's reason.
    return partial_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

void HttpDownload::onHeaders() {
    if (done_ || !reply_) return;
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0 || (status >= 300 && status < 400)) return;  // redirects are followed
    if (status >= 400) {
        fail(common::format("下载失败：服务器回答 HTTP %d", status), Keep::Nothing);
        return;
    }
    if (resumedFrom_ > 0 &&
        !(status == 206 && resumesAt(reply_->rawHeader("Content-Range"), resumedFrom_))) {
        // The server sends the whole file again: start over.
        partial_.resize(0);
        resumedFrom_ = received_ = 0;
    }
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid()) total_ = static_cast<qint64>(resumedFrom_) + length.toLongLong();
    if (total_ > static_cast<qint64>(request_.mostBytes))
        fail(common::format("下载文件过大（%lld 字节，最多 %zu 字节），已停止",
                            static_cast<long long>(total_), request_.mostBytes),
             Keep::Nothing);
}

void HttpDownload::onData() {
    if (done_ || !reply_) return;
    const QByteArray data = reply_->readAll();
    if (data.isEmpty()) return;
    received_ += static_cast<quint64>(data.size());
    if (received_ > request_.mostBytes) {
        fail(common::format("下载文件过大（超过 %zu 字节），已停止", request_.mostBytes),
             Keep::Nothing);
        return;
    }
    if (!write(data)) return;
    stallTimer_.start(stallTimeout_);
    emit progress(received_, total_);
}

bool HttpDownload::write(const QByteArray& data) {
    if (request_.resumeFile.empty()) {
        memory_.append(data);
        return true;
    }
    if (partial_.write(data) == data.size()) return true;
    // What could not be written is of no use to a later attempt either.
    const QString reason = partial_.errorString();
    fail((reason == QString::fromStdString(std::generic_category().message(ENOSPC))
              ? std::string("磁盘已满，无法写入下载文件 ")
              : std::string("无法写入下载文件 ")) +
             partial_.fileName().toStdString() + "：" + reason.toStdString(),
         Keep::Nothing);
    return false;
}

void HttpDownload::onFinished() {
    if (done_ || !reply_) return;
    onHeaders();
    if (done_) return;
    onData();
    if (done_) return;
    if (reply_->error() != QNetworkReply::NoError) {
        fail(networkError(*reply_));
        return;
    }
    if (total_ >= 0 && received_ != static_cast<quint64>(total_)) {
        fail(common::format("下载不完整：收到 %llu 字节，应为 %lld 字节",
                            static_cast<unsigned long long>(received_),
                            static_cast<long long>(total_)));
        return;
    }
    upgrade::FetchResult result;
    result.ok = true;
    if (request_.resumeFile.empty()) {
        result.bytes.assign(memory_.begin(), memory_.end());
    } else {
        if (!partial_.flush()) {
            fail("无法写入下载文件：" + partial_.errorString().toStdString(), Keep::Nothing);
            return;
        }
        partial_.close();
        result.file = upgrade::partialFileOf(request_.resumeFile);
    }
    finish(std::move(result));
}

void HttpDownload::cancel() {
    if (!done_) fail("下载已取消", Keep::Partial, true);
}

void HttpDownload::fail(const std::string& error, Keep keep, bool cancelled) {
    upgrade::FetchResult result;
    result.error = error;
    result.cancelled = cancelled;
    finish(std::move(result));
    if (keep == Keep::Nothing && !request_.resumeFile.empty()) {
        // Nothing worth continuing: the next attempt starts afresh.
        partial_.remove();
        QFile::remove(fromUtf8(upgrade::partialSourceOf(request_.resumeFile)));
    }
}

void HttpDownload::finish(upgrade::FetchResult result) {
    if (done_) return;
    done_ = true;
    stallTimer_.stop();
    deadlineTimer_.stop();
    rateTimer_.stop();
    if (reply_) {
        // Not from inside the reply's own signal: abort it once control is back in the loop.
        reply_->disconnect(this);
        QNetworkReply* reply = reply_;
        QTimer::singleShot(0, reply, [reply] {
            reply->abort();
            reply->deleteLater();
        });
        reply_ = nullptr;
    }
    partial_.close();
    emit finished(result);
}

upgrade::FetchResult fetchAndWait(const upgrade::FetchRequest& request,
                                  const upgrade::FetchProgress& progress) {
    HttpDownload download(request);
    upgrade::FetchResult result;
    QEventLoop loop;
    QObject::connect(&download, &HttpDownload::progress, &loop,
                     [&](quint64 received, qint64 total) {
                         if (progress) progress(received, total);
                     });
    QObject::connect(&download, &HttpDownload::finished, &loop,
                     [&](const upgrade::FetchResult& done) {
                         result = done;
                         loop.quit();
                     });
    download.start();
    loop.exec();
    return result;
}

}  // namespace net
