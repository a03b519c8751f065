#pragma once
// The program half of both upgrade dialogs: asks the update server whether a
// newer program exists, shows it on the 新版本 label and the hidden 升级
// button, downloads it beside the program with progress and cancel, checks
// it, and hands over to the updater. Nothing here blocks the window.

#include <QObject>
#include <QPointer>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>

#include "upgrade/upgrade_flow.h"

class QLabel;
class QPushButton;
class QWidget;

namespace net {
class HttpDownload;
}

namespace qt_adapters {

inline constexpr char kUpdaterNotStarted[] =
    "无法运行 TarselUFCS升级程序.exe!\r\n请确认当前文件夹下是否有此文件";

// Where the updater is: installed beside the program, or in a build tree.
QString findUpdater(const QString& programDir);

// Without a key nothing vouches for a download from `server`: the user is told
// why that is unsafe and agrees (the answer is No unless they choose Yes).
bool askUnsignedConsent(QWidget* parent, const std::string& server);

class ProgramUpdate final : public QObject {
    Q_OBJECT
  public:
    struct Controls {
        QLabel* latest = nullptr;        // 新版本 / 最新版本
        QPushButton* upgrade = nullptr;  // 升级 / 更新, hidden until a newer program is offered
        QPushButton* cancel = nullptr;   // hidden while nothing downloads
        QLabel* status = nullptr;        // download progress and refusals, hidden until used
    };
    ProgramUpdate(upgrade::UpgradedProgram program, upgrade::UpgradeSettings settings,
                  QString programDir, Controls controls, QObject* parent = nullptr);
    ~ProgramUpdate() override;

    // How the updater is started (detached, by default); false when it cannot be.
    void setUpdaterStarter(std::function<bool(const QString& program, const QStringList& arguments,
                                              const QString& folder)>
                               starter) {
        startUpdater_ = std::move(starter);
    }

    // Asked before an unsigned download (no key set); false: nothing is downloaded.
    void setUnsignedConsent(std::function<bool(const std::string& server)> consent) {
        unsignedConsent_ = std::move(consent);
    }

    void check();
    void download();
    void cancel();
    bool busy() const;
    const upgrade::ProgramOffer& offer() const { return offer_; }

  signals:
    void checked();
    // The updater has been started (or could not be, after `message`): the
    // main window closes.
    void handedOver();
    void message(const QString& text);

  private:
    void takeReply(const upgrade::FetchResult& reply);
    void takeDownload(const upgrade::FetchResult& result);
    void handOver();
    std::filesystem::path downloadTarget() const;
    void showStatus(const QString& text);

    upgrade::UpgradedProgram program_;
    upgrade::UpgradeSettings settings_;
    QString programDir_;
    Controls controls_;
    upgrade::ProgramOffer offer_;
    QPointer<net::HttpDownload> running_;
    std::function<bool(const QString&, const QStringList&, const QString&)> startUpdater_;
    std::function<bool(const std::string&)> unsignedConsent_;
};

// The same download run for any request, with its result delivered on the
// window thread; an empty URL fails at once.
net::HttpDownload* startFetch(const upgrade::FetchRequest& request, QObject* owner,
                              std::function<void(const upgrade::FetchResult&)> done,
                              std::function<void(quint64, qint64)> progress = {});

}  // namespace qt_adapters
