#pragma once
// Drives the window against the simulated bus, as a user and the toolkit would.

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/frm_main.h"
#include "app/list_control.h"
#include "sim/simulated_bus.h"

namespace quarvel {

// Never destroyed: among the exit handlers, a statically linked Qt (Windows) has already torn
// down what its destructor uses.
inline QApplication& application() {
    static int argc = 1;
    static char name[] = "quarvel-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* const app = new QApplication(argc, argv);
    return *app;
}

// The toolkit's side of the window: ticks, clicks and picks, without an event loop.
struct FrmMainTestAccess {
    static void tick(frmMain& w) { w.Timer_Timer(); }
    static void readDeviceStatus(frmMain& w) { w.ReadDeviceStatus(); }
    static void validateSettings(frmMain& w) { w.ValidateSettings(); }
    static void fillPhaseList(frmMain& w) { w.FillPhaseList(); }
    static void buildOutput2List(frmMain& w) { w.BuildOutput2List(); }
    static void findFreq(frmMain& w) { w.FindFreq_Click(); }
    static void wspr(frmMain& w) { w.WSPR_Click(); }
};

struct Warning {
    QString title;
    QString text;
};

class WindowHarness {
  public:
    explicit WindowHarness(QDateTime clockStart = QDateTime(QDate(2026, 12, 7), QTime(11, 59, 30)))
        : clock(std::move(clockStart)) {
        application();
    }

    // Creates the window and runs its start-up.
    frmMain& load() {
        WindowServices services;
        services.warn = [this](QWidget*, const QString& title, const QString& text) {
            warnings.push_back({title, text});
        };
        services.localClock = [this] { return clock; };
        services.requestPause = [] {};
        window = std::make_unique<frmMain>(bus, services);
        window->Form_Load();
        return *window;
    }

    void unload() { window.reset(); }

    void tick() { FrmMainTestAccess::tick(*window); }

    // A user's pick in a list: the toolkit selects the entry, then announces the choice.
    static void pick(ListControl* list, int index) {
        list->setCurrentIndex(index);
        emit list->activated(index);
    }

    static void type(QLineEdit* field, const QString& text) { field->setText(text); }

    std::vector<std::vector<std::uint8_t>> reportsWithCommand(DeviceId device,
                                                              std::uint8_t code) const {
        std::vector<std::vector<std::uint8_t>> result;
        for (auto& report : bus.featureReports(device)) {
            if (report.size() > 1 && report[1] == code) result.push_back(report);
        }
        return result;
    }

    bool handlesBalanced() const {
        return bus.openHandles() == 0 && bus.badCloses() == 0 &&
               bus.totalOpened() == bus.totalClosed();
    }

    SimulatedBus bus;
    QDateTime clock;
    std::vector<Warning> warnings;
    std::unique_ptr<frmMain> window;
};

inline QStringList entriesOf(const ListControl* list) {
    QStringList texts;
    for (int i = 0; i < list->listCount(); ++i) texts << list->itemText(i);
    return texts;
}

// The expected frame: the given leading bytes, zeros up to length.
inline std::vector<std::uint8_t> frameOf(std::vector<std::uint8_t> leading, std::size_t length) {
    leading.resize(length, 0);
    return leading;
}

}  // namespace quarvel
