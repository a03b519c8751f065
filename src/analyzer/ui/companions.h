#pragma once
// What the analyzer opens beside itself: the recorder (测试曲线) and the
// user's manual (用户手册).

#include <QString>
#include <QUrl>
#include <functional>

namespace analyzer::ui {

// Starts the recorder from the analyzer's folder (with --simulate when the
// analyzer runs simulated); empty when it started, else what to tell the user.
QString startRecorder(const QString& programDir);

// Shows the manual beside the program through `openUrl` (the desktop's
// viewer); empty when it opened, else what to tell the user.
QString openManual(const QString& programDir, const std::function<bool(const QUrl&)>& openUrl);

}  // namespace analyzer::ui
