// The question asked at start when several instruments are attached.
#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <memory>

#include "device/exclusive_lock.h"
#include "qt/program/instrument_chooser.h"
#include "simulator/simulated_device.h"
#include "support/test_folder.h"

namespace {

qt_adapters::InstrumentChooser* openChooser() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* chooser = qobject_cast<qt_adapters::InstrumentChooser*>(widget);
            chooser && chooser->isVisible())
            return chooser;
    }
    return nullptr;
}

}  // namespace

class InstrumentChooserTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestFolder> folder_;

    std::unique_ptr<device::ChoosingDevice> simulated(std::size_t count,
                                                      std::string selector = {}) {
        std::vector<std::shared_ptr<simulator::Instrument>> instruments;
        for (std::size_t i = 0; i < count; ++i)
            instruments.push_back(std::make_shared<simulator::Instrument>());
        return std::make_unique<device::ChoosingDevice>(
            std::make_shared<simulator::SimulatedCatalog>(std::move(instruments),
                                                          folder_->path().string()),
            std::move(selector));
    }
    std::string lockOf(const char* serial) const {
        return simulator::simulatorLockPath(folder_->path().string(), serial);
    }

  private slots:
    void init() { folder_ = std::make_unique<testing_support::TestFolder>("chooser_test"); }
    void cleanup() { folder_.reset(); }

    // Busy instruments are listed and marked; the first free one is offered.
    void listsEveryInstrumentAndOffersTheFirstFree() {
        device::ExclusiveLock held;
        QVERIFY(held.acquire(lockOf("SIM0001")));
        const auto device = simulated(3);
        const std::vector<qt_adapters::ChooserEntry> entries =
            qt_adapters::chooserEntries(device->catalog());
        QCOMPARE(entries.size(), std::size_t{3});
        QVERIFY(entries[0].busy);
        QVERIFY(!entries[1].busy && !entries[2].busy);
        qt_adapters::InstrumentChooser chooser(entries);
        QCOMPARE(chooser.list()->count(), 3);
        QVERIFY(chooser.list()->item(0)->text().contains(QStringLiteral("仪器正被其它程序使用")));
        QCOMPARE(chooser.chosen()->serial, std::string("SIM0002"));
        // Probing left the free ones free.
        device::ExclusiveLock second;
        QVERIFY(second.acquire(lockOf("SIM0002")));
    }

    // The answer is kept; a cancel leaves the first free one; one instrument
    // or one named on the command line asks nothing.
    void theAnswerIsKeptAndOnlyAskedWhenThereIsAChoice() {
        const auto device = simulated(2);
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(openChooser());
            openChooser()->list()->setCurrentRow(1);
            openChooser()->accept();
        });
        qt_adapters::chooseAmongAttached(*device);
        QCOMPARE(device->selector(), std::string("SIM0002"));
        QCOMPARE(device->identity().name(), std::string("SIM0002"));

        const auto cancelled = simulated(2);
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(openChooser());
            openChooser()->reject();
        });
        qt_adapters::chooseAmongAttached(*cancelled);
        QVERIFY(cancelled->selector().empty());

        for (const auto& quiet : {simulated(1), simulated(2, "SIM0001")}) {
            bool asked = false;
            QTimer::singleShot(0, [&asked] {
                if (auto* chooser = openChooser()) {
                    asked = true;
                    chooser->reject();
                }
            });
            qt_adapters::chooseAmongAttached(*quiet);
            QCoreApplication::processEvents();
            QVERIFY(!asked);
        }
    }
};

QTEST_MAIN(InstrumentChooserTest)
#include "instrument_chooser_test.moc"
