#include "analyzer/ui/decode_pane.h"

#include <QMenu>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

#include "qt/text.h"

namespace analyzer::ui {
namespace {

const QColor kCyan(0, 255, 255);
const QColor kYellow(255, 255, 0);

}  // namespace

QTextEdit* blackTextBox(QWidget* parent, const QColor& text) {
    auto* box = new QTextEdit(parent);
    box->setReadOnly(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, text);
    box->setPalette(palette);
    return box;
}

DecodePane::DecodePane(QWidget* parent) : QWidget(parent) {
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    QPalette treePalette = tree_->palette();
    treePalette.setColor(QPalette::Base, Qt::black);
    treePalette.setColor(QPalette::Text, kCyan);
    tree_->setPalette(treePalette);
    text_ = blackTextBox(this, kCyan);
    text_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(text_, &QTextEdit::customContextMenuRequested, this, &DecodePane::showMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tree_, 1);
    layout->addWidget(text_, 1);
}

void DecodePane::setFonts(const QFont& font) {
    tree_->setFont(font);
    text_->setFont(font);
}

void DecodePane::append(const QString& text, PaneStyle style) {
    QTextCursor cursor = text_->textCursor();
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(style == PaneStyle::Error  ? QColor(Qt::red)
                         : style == PaneStyle::Note ? kYellow
                                                    : kCyan);
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    cursor.insertText(plain, format);
    text_->setTextCursor(cursor);
    text_->ensureCursorVisible();
    if (style != PaneStyle::NormalAtEnd) {
        cursor.movePosition(QTextCursor::Start);
        text_->setTextCursor(cursor);
    }
}

void DecodePane::clear() {
    tree_->clear();
    text_->clear();
}

void DecodePane::showDecode(const ufcs::DecodeResult& result) {
    clear();
    std::vector<QTreeWidgetItem*> visible;
    std::function<void(QTreeWidgetItem*, const ufcs::TreeItem&)> add =
        [&](QTreeWidgetItem* item, const ufcs::TreeItem& source) {
            QString text = qt_adapters::fromStd(source.text);
            text.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
            item->setText(0, text);
            if (source.visible) visible.push_back(item);
            for (const ufcs::TreeItem& child : source.children)
                add(new QTreeWidgetItem(item), child);
        };
    for (const ufcs::TreeItem& root : result.roots)
        add(new QTreeWidgetItem(tree_), root);
    for (QTreeWidgetItem* item : visible) {
        for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
            parent->setExpanded(true);
        tree_->scrollToItem(item);
    }
    for (const ufcs::PaneText& segment : result.pane)
        append(qt_adapters::fromStd(segment.text), paneStyleOf(segment.type));
}

void DecodePane::showRecord(const ufcs::DecodeResult& result, const ufcs::ListRow& listTexts,
                            const std::vector<const ufcs::SequenceNote*>& notes) {
    showDecode(result);
    if (result.pane.empty()) {
        QStringList parts;
        for (std::size_t column = 3; column < ufcs::kListColumns; ++column) {
            if (!listTexts.columns[column].empty())
                parts << qt_adapters::fromStd(listTexts.columns[column]).trimmed();
        }
        append(parts.join(QStringLiteral("  ")) + "\r\n", PaneStyle::Normal);
    }
    for (const ufcs::SequenceNote* note : notes)
        append(qt_adapters::fromStd(note->text) + "\r\n", PaneStyle::Note);
}

void DecodePane::showMenu(const QPoint& position) {
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("复制")), &QAction::triggered, this,
            &DecodePane::copySelection);
    connect(menu.addAction(QStringLiteral("全选")), &QAction::triggered, text_,
            &QTextEdit::selectAll);
    connect(menu.addAction(QStringLiteral("清除")), &QAction::triggered, text_, &QTextEdit::clear);
    menu.exec(text_->viewport()->mapToGlobal(position));
}

void DecodePane::copySelection() {
    if (text_->textCursor().hasSelection()) {
        text_->copy();
        return;
    }
    emit message(QString::asprintf(" 光标[guang biao]在%d", text_->textCursor().position()));
}

}  // namespace analyzer::ui
