#include "analyzer/ui/message_list_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>

#include "analyzer/ui/message_list_model.h"
#include "ufcs/list_search.h"

namespace analyzer::ui {
namespace {

constexpr int kNormalWidths[ufcs::kListColumns] = {60, 60, 80, 200, 300, 70, 130, 60};
constexpr int kCompactWidths[ufcs::kListColumns] = {44, 44, 63, 150, 217, 50, 85, 49};
constexpr const char* kWidestTexts[ufcs::kListColumns] = {
    " 65535", "", "", "", "", "21.00", "0:00:00.000", "115200"};
constexpr int kFilteredColumns[4] = {1, 2, 3, 7};

QIcon filterIcon(bool allTicked) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setBrush(allTicked ? QColor(60, 170, 60) : QColor(230, 140, 20));
    painter.setPen(Qt::black);
    painter.drawRect(1, 1, 13, 13);
    painter.setPen(Qt::white);
    painter.drawText(QRect(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("B"));
    return QIcon(pixmap);
}

bool groupAllTicked(const ufcs::ListFilter& filter, FilterPopup::Group group) {
    switch (group) {
        case FilterPopup::Group::Type:
            return filter.typesAllTicked();
        case FilterPopup::Group::Receiver:
            return filter.receiversAllTicked();
        case FilterPopup::Group::Message:
            return filter.messagesAllTicked();
        case FilterPopup::Group::Baud:
            return filter.baudsAllTicked();
    }
    return true;
}

}  // namespace

MessageListView::MessageListView(ufcs::CaptureList& list, ufcs::CaptureStore& store, bool compact,
                                 QWidget* parent)
    : QTableView(parent), list_(list), model_(new MessageListModel(list, store, this)) {
    setModel(model_);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);  // uniform rows: no per-row sizing
    horizontalHeader()->setStretchLastSection(false);
    QPalette black = palette();
    black.setColor(QPalette::Base, Qt::black);
    setPalette(black);
    sizeFontAndColumns(compact);
    placeFilterButtons(compact);
    QHeaderView* header = horizontalHeader();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, this,
            &MessageListView::showHeaderMenu);
    connect(header, &QHeaderView::sectionResized, this, &MessageListView::moveFilterButtons);
    connect(header, &QHeaderView::geometriesChanged, this, &MessageListView::moveFilterButtons);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
            &MessageListView::moveFilterButtons);
    setColumnHidden(MessageListModel::kDeltaColumn, true);
}

MessageListView::~MessageListView() {
    // The header and the scroll bar go after this class: they call it no more.
    horizontalHeader()->disconnect(this);
    horizontalScrollBar()->disconnect(this);
}

void MessageListView::sizeFontAndColumns(bool compact) {
    // The list's own font is the dialog font of 11 pixels its column widths were
    // made for; the normal layout enlarges it 1.4 times.
    QFont listFont = font();
    listFont.setPixelSize(compact ? 11 : static_cast<int>(11 * 1.4 + 0.5));
    setFont(listFont);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    int columnsWidth = 0;
    for (int column = 0; column < static_cast<int>(ufcs::kListColumns); ++column) {
        // Never narrower than the widest text the column shows in this font.
        const int width =
            std::max((compact ? kCompactWidths : kNormalWidths)[column],
                     fontMetrics().horizontalAdvance(QLatin1String(kWidestTexts[column])) + 10);
        setColumnWidth(column, width);
        columnsWidth += width;
    }
    // Every column in view; the tree and the pane take the rest of the width.
    setMinimumWidth(columnsWidth + verticalScrollBar()->sizeHint().width() + 2 * frameWidth());
}

void MessageListView::placeFilterButtons(bool compact) {
    const int size = compact ? 15 : 20;
    QHeaderView* header = horizontalHeader();
    header->setMinimumHeight(size + 4);
    for (int i = 0; i < 4; ++i) {
        auto* button = new QToolButton(header);
        button->setText(QStringLiteral("B"));
        button->setIcon(filterIcon(true));
        button->resize(size, size);
        const auto group = static_cast<FilterPopup::Group>(i);
        connect(button, &QToolButton::clicked, this,
                [this, group] { emit filterRequested(group); });
        filterButtons_[i] = button;
    }
    // The titles sit at the left of their sections, the buttons at the right.
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    moveFilterButtons();
}

void MessageListView::moveFilterButtons() {
    QHeaderView* header = horizontalHeader();
    for (int i = 0; i < 4; ++i) {
        QToolButton* button = filterButtons_[i];
        if (!button) continue;
        const int column = kFilteredColumns[i];
        const int right = header->sectionViewportPosition(column) + header->sectionSize(column);
        button->move(right - button->width() - 2, (header->height() - button->height()) / 2);
    }
}

void MessageListView::showFilter(const ufcs::ListFilter& filter) {
    for (int i = 0; i < 4; ++i)
        filterButtons_[i]->setIcon(
            filterIcon(groupAllTicked(filter, static_cast<FilterPopup::Group>(i))));
}

void MessageListView::setTimeFromCaptureStart(bool fromStart) {
    list_.setTimeOrigin(fromStart ? ufcs::CaptureList::TimeOrigin::CaptureStart
                                  : ufcs::CaptureList::TimeOrigin::InstrumentUptime);
    model_->timesChanged();
}

void MessageListView::showHeaderMenu(const QPoint& position) {
    QMenu menu(this);
    QAction* delta = menu.addAction(QStringLiteral("显示“间隔”列（与上一行的时间差）"));
    delta->setCheckable(true);
    delta->setChecked(!isColumnHidden(MessageListModel::kDeltaColumn));
    connect(delta, &QAction::toggled, this, [this](bool shown) {
        setColumnHidden(MessageListModel::kDeltaColumn, !shown);
        if (shown) setColumnWidth(MessageListModel::kDeltaColumn, 90);
    });
    QAction* fromStart =
        menu.addAction(QStringLiteral("“时间”列从第一条记录算起（否则为仪器的运行时间）"));
    fromStart->setCheckable(true);
    fromStart->setChecked(list_.timeOrigin() == ufcs::CaptureList::TimeOrigin::CaptureStart);
    connect(fromStart, &QAction::toggled, this, [this](bool on) {
        setTimeFromCaptureStart(on);
        emit timeOriginChanged(on);
    });
    menu.addSeparator();
    QAction* everything = menu.addAction(QStringLiteral("显示全部记录（清除所有过滤）"));
    everything->setEnabled(!list_.filter().showsEverything());
    connect(everything, &QAction::triggered, this, &MessageListView::showEverythingRequested);
    menu.exec(horizontalHeader()->viewport()->mapToGlobal(position));
}

void MessageListView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    emit keyPressed(key);
    // Home and End go to the first and last row, not to a column.
    if ((key == Qt::Key_Home || key == Qt::Key_End) && model_->listedRows() > 0) {
        const QModelIndex target =
            model_->index(key == Qt::Key_End ? model_->listedRows() - 1 : 0, 0);
        setCurrentIndex(target);
        scrollTo(target);
        return;
    }
    QTableView::keyPressEvent(event);
}

std::optional<std::size_t> MessageListView::currentListRow() const {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || current.row() >= model_->listedRows()) return std::nullopt;
    return static_cast<std::size_t>(current.row());
}

std::optional<uint32_t> MessageListView::currentRecord() const {
    const std::optional<std::size_t> row = currentListRow();
    if (!row) return std::nullopt;
    return model_->recordAt(static_cast<int>(*row));
}

bool MessageListView::selectRecord(uint32_t record) {
    const std::optional<std::size_t> row = ufcs::rowOfRecord(list_, record);
    if (!row) return false;
    const QModelIndex index = model_->index(static_cast<int>(*row), 0);
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

}  // namespace analyzer::ui
