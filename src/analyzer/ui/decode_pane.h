#pragma once
// The decode of the selected row: the field tree above, the detail text
// below (cyan, errors red, sequence notes yellow), with its menu 复制, 全选,
// 清除.

#include <QColor>
#include <QString>
#include <QWidget>

#include "analyzer/session.h"
#include "ufcs/decoder.h"
#include "ufcs/list_row.h"
#include "ufcs/sequence_check.h"

class QTextEdit;
class QTreeWidget;

namespace analyzer::ui {

// A read-only text box on black, as the window's boxes are.
QTextEdit* blackTextBox(QWidget* parent, const QColor& text);

class DecodePane final : public QWidget {
    Q_OBJECT
  public:
    explicit DecodePane(QWidget* parent = nullptr);

    QTreeWidget* tree() const { return tree_; }
    QTextEdit* text() const { return text_; }
    void setFonts(const QFont& font);

    // The tree and the text of one record, the fields the decoder marks in
    // view; a record without a decode text (the capture's header, the line
    // events) shows its list texts; then the record's sequence notes.
    void showRecord(const ufcs::DecodeResult& result, const ufcs::ListRow& listTexts,
                    const std::vector<const ufcs::SequenceNote*>& notes);
    void showDecode(const ufcs::DecodeResult& result);
    // Appends as the program does (0/100 cyan, 1 red, 2 yellow); all but
    // NormalAtEnd leave the text scrolled to its start.
    void append(const QString& text, PaneStyle style);
    void clear();
    void copySelection();

  signals:
    void message(const QString& text);

  private:
    void showMenu(const QPoint& position);

    QTreeWidget* tree_;
    QTextEdit* text_;
};

}  // namespace analyzer::ui
