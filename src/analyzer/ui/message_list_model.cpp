#include "analyzer/ui/message_list_model.h"

#include <QBrush>
#include <QColor>

#include "ufcs/row_export.h"

namespace analyzer::ui {

MessageListModel::MessageListModel(ufcs::CaptureList& list, ufcs::CaptureStore& store,
                                   QObject* parent)
    : QAbstractTableModel(parent), list_(list), store_(store) {}

int MessageListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return listedRows() + (trailingNote_.isEmpty() ? 0 : 1);
}

int MessageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (index.row() >= listedRows()) {
        return role == Qt::DisplayRole && index.column() == 4 ? QVariant(trailingNote_)
                                                              : QVariant();
    }
    const uint32_t record = recordAt(index.row());
    switch (role) {
        case Qt::DisplayRole:
            if (index.column() == kDeltaColumn) return deltaText(index.row());
            return QString::fromStdString(
                rowTexts(record).columns[static_cast<std::size_t>(index.column())]);
        case Qt::BackgroundRole: {
            const uint32_t colour = store_.record(record).rowColour();
            return QBrush(QColor(ufcs::redOf(colour), ufcs::greenOf(colour), ufcs::blueOf(colour)));
        }
        case Qt::ForegroundRole:
            return QBrush(Qt::black);
        default:
            return {};
    }
}

QString MessageListModel::deltaText(int row) const {
    const std::optional<int64_t> delta =
        ufcs::listedRowDeltaUs(list_, static_cast<std::size_t>(row));
    return delta ? QString::fromStdString(ufcs::millisecondsText(*delta)) : QString();
}

const ufcs::ListRow& MessageListModel::rowTexts(uint32_t record) const {
    if (record != cachedRecord_) {
        cachedRow_ = list_.recordTexts(record);
        cachedRecord_ = record;
    }
    return cachedRow_;
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == kDeltaColumn) return QStringLiteral("间隔");
    if (section < 0 || section >= static_cast<int>(ufcs::kListColumns)) return {};
    return QString::fromUtf8(
        ufcs::kListColumnTitles[static_cast<std::size_t>(section)].data(),
        static_cast<qsizetype>(ufcs::kListColumnTitles[static_cast<std::size_t>(section)].size()));
}

void MessageListModel::timesChanged() {
    cachedRecord_ = UINT32_MAX;
    if (listedRows() > 0) emit dataChanged(index(0, 6), index(listedRows() - 1, 6));
}

void MessageListModel::appendNew() {
    const int first = listedRows();
    const auto added = static_cast<int>(list_.stageNew());
    if (added == 0) return;
    beginInsertRows({}, first, first + added - 1);
    list_.commitStaged();
    endInsertRows();
}

void MessageListModel::rebuild() {
    cachedRecord_ = UINT32_MAX;
    beginResetModel();
    list_.rebuild();
    endResetModel();
}

void MessageListModel::clear() {
    cachedRecord_ = UINT32_MAX;
    beginResetModel();
    list_.clear();
    trailingNote_.clear();
    endResetModel();
}

// The note is one row after the listed ones: it comes, goes or changes
// alone, and the selection and scroll position of the list stay.
void MessageListModel::setTrailingNote(const QString& note) {
    const int row = listedRows();
    if (note == trailingNote_) return;
    if (trailingNote_.isEmpty()) {
        beginInsertRows({}, row, row);
        trailingNote_ = note;
        endInsertRows();
    } else if (note.isEmpty()) {
        beginRemoveRows({}, row, row);
        trailingNote_.clear();
        endRemoveRows();
    } else {
        trailingNote_ = note;
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1), {Qt::DisplayRole});
    }
}

}  // namespace analyzer::ui
