#pragma once
// The question every program of the suite asks before unsaved work is dropped.

#include <QMessageBox>
#include <QString>

namespace qt_adapters {

inline constexpr const char* kSaveQuestion = "\n\n      是否存盘?\n ";

// "是否存盘?" with a warning icon: Yes (save first), No (go on) or Cancel (stay).
QMessageBox::StandardButton askToSave(QWidget* parent, const QString& caption);

}  // namespace qt_adapters
