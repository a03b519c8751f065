#pragma once
// The message list: one row per listed record on black, the columns sized for
// their widest texts, the filter buttons in the header (B), the header's menu
// for the 间隔 column and what the time column counts from, and Home/End to the first and last row.

#include <QTableView>
#include <optional>

#include "analyzer/ui/dialogs.h"
#include "ufcs/capture_list.h"

class QToolButton;

namespace analyzer::ui {

class MessageListModel;

class MessageListView final : public QTableView {
    Q_OBJECT
  public:
    MessageListView(ufcs::CaptureList& list, ufcs::CaptureStore& store, bool compact,
                    QWidget* parent = nullptr);
    ~MessageListView() override;

    MessageListModel* listModel() const { return model_; }
    // The current row when it is a listed one (not the note row).
    std::optional<std::size_t> currentListRow() const;
    std::optional<uint32_t> currentRecord() const;
    // Selects and shows the row of `record`; false when it is not listed.
    bool selectRecord(uint32_t record);
    QToolButton* filterButton(FilterPopup::Group group) const {
        return filterButtons_[static_cast<int>(group)];
    }
    // The time column counts the instrument's uptime or the time since the capture's start.
    void setTimeFromCaptureStart(bool fromStart);
    // The header buttons show whether their popup has every box ticked.
    void showFilter(const ufcs::ListFilter& filter);

  signals:
    // Any key pressed in the list (Home and End then go to the first and last row).
    void keyPressed(int key);
    void filterRequested(FilterPopup::Group group);
    // The header menu's 显示全部记录: every filter cleared.
    void showEverythingRequested();
    // The user chose what the time column counts from (the list already does).
    void timeOriginChanged(bool fromCaptureStart);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void sizeFontAndColumns(bool compact);
    void placeFilterButtons(bool compact);
    void moveFilterButtons();
    void showHeaderMenu(const QPoint& position);

    ufcs::CaptureList& list_;
    MessageListModel* model_;
    QToolButton* filterButtons_[4] = {};
};

}  // namespace analyzer::ui
