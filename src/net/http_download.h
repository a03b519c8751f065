#pragma once
// One HTTP(S) download for the upgrade flows, through Qt Network with the
// system's proxy settings: only http:// and https://, a size cap, a stall
// time-out, cancel, and resuming an interrupted file download with a Range
// request. It runs on the thread's event loop and never blocks it.

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

#include "upgrade/fetch.h"

class QNetworkAccessManager;

namespace net {

inline constexpr std::chrono::milliseconds kStallTimeout{10000};

class HttpDownload final : public QObject {
    Q_OBJECT
  public:
    explicit HttpDownload(upgrade::FetchRequest request, QObject* parent = nullptr);
    ~HttpDownload() override;

    void setStallTimeout(std::chrono::milliseconds timeout) { stallTimeout_ = timeout; }
    // A server that sends a byte now and then resets the stall timer for ever:
    // a reply has an overall deadline, a file a least average rate (both in the request).
    void start();
    // Ends the download (finished() follows with `cancelled`); a file download keeps what it has.
    void cancel();
    bool running() const { return reply_ != nullptr; }

  signals:
    void progress(quint64 received, qint64 total);
    void finished(const upgrade::FetchResult& result);

  private:
    void onHeaders();
    void onData();
    void onFinished();
    void checkRate();
    // What an unfinished file download leaves for the next attempt.
    enum class Keep { Partial, Nothing };
    void fail(const std::string& error, Keep keep = Keep::Partial, bool cancelled = false);
    void finish(upgrade::FetchResult result);
    bool openPartialFile();
    bool write(const QByteArray& data);

    upgrade::FetchRequest request_;
    std::chrono::milliseconds stallTimeout_ = kStallTimeout;
    QNetworkAccessManager* manager_ = nullptr;
    QPointer<QNetworkReply> reply_;
    QTimer stallTimer_;
    QTimer deadlineTimer_;
    QTimer rateTimer_;
    quint64 receivedAtRateCheck_ = 0;
    QFile partial_;
    QByteArray memory_;
    quint64 resumedFrom_ = 0;
    quint64 received_ = 0;  // counting what was resumed
    qint64 total_ = -1;
    bool done_ = false;
};

// Fetches and waits on a local event loop (for the command line): needs a
// QCoreApplication on the calling thread.
upgrade::FetchResult fetchAndWait(const upgrade::FetchRequest& request,
                                  const upgrade::FetchProgress& progress);

}  // namespace net
