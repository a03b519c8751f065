#pragma once
// The message list as a table model: rows are record indices into the store,
// and texts are made from the record when the view asks for them, so a full
// store costs no per-row strings. New rows arrive in batches. A ninth column,
// "间隔", holds the time since the row above; the window hides it until asked.

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>

#include "ufcs/capture_list.h"

namespace analyzer::ui {

class MessageListModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kDeltaColumn = static_cast<int>(ufcs::kListColumns);
    static constexpr int kColumnCount = kDeltaColumn + 1;

    MessageListModel(ufcs::CaptureList& list, ufcs::CaptureStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Lists what the store gained (nothing while the list is frozen); one insertion per batch.
    void appendNew();
    // Relists the whole store through the filter.
    void rebuild();
    // No rows (a new capture, or a capture cut back to its header).
    void clear();
    // The time column counts from the list's time origin again.
    void timesChanged();
    // A last row that only carries a note in the summary column ("数据已爆表！"); empty removes it.
    void setTrailingNote(const QString& note);

    uint32_t recordAt(int row) const { return list_.recordAt(static_cast<std::size_t>(row)); }
    int listedRows() const { return static_cast<int>(list_.rowCount()); }

  private:
    const ufcs::ListRow& rowTexts(uint32_t record) const;
    QString deltaText(int row) const;

    ufcs::CaptureList& list_;
    ufcs::CaptureStore& store_;
    QString trailingNote_;
    // Views ask cell by cell along a row; the row's texts are made once for its eight cells.
    mutable uint32_t cachedRecord_ = UINT32_MAX;
    mutable ufcs::ListRow cachedRow_;
};

}  // namespace analyzer::ui
