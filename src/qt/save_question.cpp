#include "qt/save_question.h"

#include <QPushButton>

namespace qt_adapters {

QMessageBox::StandardButton askToSave(QWidget* parent, const QString& caption) {
    QMessageBox box(QMessageBox::Warning, caption, QString::fromUtf8(kSaveQuestion),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    // The texts a Chinese system gives these buttons.
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    box.setDefaultButton(QMessageBox::Yes);
    const int answer = box.exec();
    return answer == QMessageBox::Yes || answer == QMessageBox::No
               ? static_cast<QMessageBox::StandardButton>(answer)
               : QMessageBox::Cancel;
}

}  // namespace qt_adapters
