#include "qt/program/instrument_chooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "qt/text.h"

namespace qt_adapters {

std::vector<ChooserEntry> chooserEntries(device::InstrumentCatalog& catalog) {
    std::vector<ChooserEntry> entries;
    for (const device::AttachedInstrument& instrument : catalog.attached()) {
        const device::InstrumentOpening opening = device::openInstrument(catalog, instrument);
        opening.device->close();
        entries.push_back(
            {instrument, opening.outcome == device::InstrumentOpening::Outcome::Busy});
    }
    return entries;
}

InstrumentChooser::InstrumentChooser(std::vector<ChooserEntry> entries, QWidget* parent)
    : QDialog(parent), entries_(std::move(entries)) {
    setWindowTitle(QStringLiteral("选择仪器"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("连接了多台仪器，请选择要使用的一台："), this));
    list_ = new QListWidget(this);
    int firstFree = -1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const ChooserEntry& entry = entries_[i];
        QString text = fromStd(entry.instrument.name());
        if (!entry.instrument.serial.empty())
            text += QStringLiteral("    ") + fromStd(entry.instrument.path);
        if (entry.busy) text += QStringLiteral("    （") + fromStd(device::kBusyText) + "）";
        list_->addItem(text);
        if (!entry.busy && firstFree < 0) firstFree = static_cast<int>(i);
    }
    list_->setCurrentRow(firstFree < 0 ? 0 : firstFree);
    // Every line whole, and no more rows of room than a production line's bench needs.
    const int frame = 2 * list_->frameWidth();
    const int rows = std::min(list_->count(), 8);
    list_->setMinimumWidth(list_->sizeHintForColumn(0) + frame + 8);
    list_->setFixedHeight(rows * list_->sizeHintForRow(0) + frame + 4);
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    layout->addWidget(buttons);
}

std::optional<device::AttachedInstrument> InstrumentChooser::chosen() const {
    const int row = list_->currentRow();
    if (row < 0 || row >= static_cast<int>(entries_.size())) return std::nullopt;
    return entries_[static_cast<std::size_t>(row)].instrument;
}

void chooseAmongAttached(device::ChoosingDevice& device) {
    if (!device.selector().empty()) return;
    std::vector<ChooserEntry> entries = chooserEntries(device.catalog());
    if (entries.size() < 2) return;
    InstrumentChooser chooser(std::move(entries));
    if (chooser.exec() != QDialog::Accepted) return;
    if (const auto chosen = chooser.chosen()) device.choose(*chosen);
}

}  // namespace qt_adapters
