#include "updater/updater_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace updater {

UpdaterWindow::UpdaterWindow(const UpdateRow& row, std::filesystem::path folder, UpdateHooks hooks)
    : row_(row), folder_(std::move(folder)), hooks_(std::move(hooks)) {
    setWindowTitle(QStringLiteral("TarselUFCS升级程序"));
    label_ = new QLabel(QString::fromStdString(waitingText(row)));
    label_->setAlignment(Qt::AlignCenter);
    label_->setMinimumSize(360, 90);
    label_->setWordWrap(true);
    auto* ok = new QPushButton(QStringLiteral("确定"));
    ok->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(ok);
}

UpdaterWindow::~UpdaterWindow() {
    if (worker_.joinable()) worker_.join();
}

void UpdaterWindow::start() {
    worker_ = std::thread([this] {
        const auto show = [this](const std::string& text) {
            fromWorker_.post([this, text] { label_->setText(QString::fromStdString(text)); });
        };
        const UpdateOutcome outcome = runUpdate(row_, folder_, clock_, hooks_, show);
        fromWorker_.post([this, outcome] {
            label_->setText(QString::fromStdString(outcome.text));
            finished_ = true;
            emit upgradeEnded(outcome.upgraded);
            if (outcome.upgraded) close();
        });
    });
}

QString UpdaterWindow::text() const {
    return label_->text();
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
    // Files are being swapped: the window goes only once that is over.
    if (!finished_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void UpdaterWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("关于 TarselUFCS升级程序(&A)...")), &QAction::triggered,
            this, &UpdaterWindow::showAbout);
    menu.exec(event->globalPos());
}

void UpdaterWindow::showAbout() {
    QMessageBox::about(this, QStringLiteral("关于 TarselUFCS升级程序"),
                       QStringLiteral("TarselUFCS升级程序 1.0"));
}

}  // namespace updater
