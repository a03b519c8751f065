#include "qt/save_question.h"

namespace qt_adapters {

QMessageBox::StandardButton askToSave(QWidget* parent, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, QString::fromUtf8(kSaveQuestion),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Yes);
    const int answer = box.exec();
    return answer == QMessageBox::Yes || answer == QMessageBox::No
               ? static_cast<QMessageBox::StandardButton>(answer)
               : QMessageBox::Cancel;
}

}  // namespace qt_adapters
