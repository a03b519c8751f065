#include "qt/dialog_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace qt_adapters {
namespace {

constexpr const char* kSection = "Files";
constexpr const char* kKey = "LastFolder";

}  // namespace

QString DialogFolder::start() const {
    const QString last = QString::fromStdString(profile_.readString(kSection, kKey, ""));
    if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
    // The documents folder, made when the account has none yet; never the program's folder.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QDir().mkpath(documents)) return documents;
    return QDir::homePath();
}

QString DialogFolder::suggest(const QString& name) const {
    return name.isEmpty() ? start() : QDir(start()).filePath(name);
}

void DialogFolder::remember(const QString& chosenPath) {
    if (chosenPath.isEmpty()) return;
    profile_.writeString(kSection, kKey, QFileInfo(chosenPath).absolutePath().toStdString());
}

}  // namespace qt_adapters
