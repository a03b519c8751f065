#pragma once
// The question a program asks at start when more than one instrument is
// attached and none was named on the command line: which one to use. Busy
// instruments (held by another program) are listed, marked, and not offered
// first.

#include <QDialog>
#include <optional>
#include <vector>

#include "device/instrument_catalog.h"

class QListWidget;

namespace qt_adapters {

struct ChooserEntry {
    device::AttachedInstrument instrument;
    bool busy = false;
};

// Each attached instrument, and whether another program holds it (found by
// opening and closing it at once; no report is sent).
std::vector<ChooserEntry> chooserEntries(device::InstrumentCatalog& catalog);

class InstrumentChooser final : public QDialog {
    Q_OBJECT
  public:
    explicit InstrumentChooser(std::vector<ChooserEntry> entries, QWidget* parent = nullptr);
    // The instrument selected now.
    std::optional<device::AttachedInstrument> chosen() const;
    QListWidget* list() const { return list_; }

  private:
    std::vector<ChooserEntry> entries_;
    QListWidget* list_ = nullptr;
};

// Asks when `device` has no instrument named and more than one is attached,
// and keeps the answer in `device`. Cancelling leaves the first free one.
void chooseAmongAttached(device::ChoosingDevice& device);

}  // namespace qt_adapters
