#pragma once
// The "Simulator" window of quarvel-demo: for each simulated clock generator, the switches a
// bench would have (USB cable, GPS antenna, PLL) and the faults a developer wants to provoke.
// It acts on the bus directly, never on the main window, so the main window sees only what a
// real device would show it.

#include <QString>
#include <QWidget>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulated_bus.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;

namespace quarvel {

struct SimulatedDevice {
    DeviceId id = 0;
    std::u16string serialNumber;
};

// Adds the demo's two clock generators: serial numbers whose second character gives the
// bandwidth 6 for the first and 15 for the second, so both choices of the search can be seen.
std::vector<SimulatedDevice> addDemoDevices(SimulatedBus& bus);

// The text of a device's group box: the serial number and the bandwidth it starts with.
QString panelTitle(std::u16string_view serialNumber);

class SimulatorWindow : public QWidget {
    Q_OBJECT
  public:
    // The controls of one device, public so tests can click them.
    struct DevicePanel {
        QGroupBox* box = nullptr;
        QCheckBox* plugged = nullptr;
        QCheckBox* gpsSignal = nullptr;
        QCheckBox* pllLocked = nullptr;
        QCheckBox* refusesOpen = nullptr;
        QPushButton* countLoss = nullptr;
        QPushButton* failStatus = nullptr;
        QPushButton* failInput = nullptr;
        QLabel* state = nullptr;  // loss count and faults still waiting
    };

    // How often the check boxes are brought in step with the bus: fast enough to show the PLL
    // relock a second after a plan, slow enough to cost nothing.
    static constexpr int kRefreshMs = 200;

    // One panel per device, in the order given.
    SimulatorWindow(SimulatedBus& bus, std::vector<SimulatedDevice> devices,
                    QWidget* parent = nullptr);

    std::size_t panelCount() const { return panels_.size(); }
    const DevicePanel& panel(std::size_t index) const { return panels_.at(index); }

    // Shows the bus as it is now; the check boxes' click handlers do not run.
    void refresh();
    // No larger than a screen area of this size; the panels scroll within it when they need
    // more. Public so tests can try other screens.
    void fitToScreen(const QSize& available);

  private:
    DevicePanel makePanel(const SimulatedDevice& device);
    void showState(const DevicePanel& panel, DeviceId device);
    void armFault(DeviceId device, SimCall call);

    SimulatedBus& bus_;
    std::vector<SimulatedDevice> devices_;
    std::vector<DevicePanel> panels_;
    QTimer* refreshTimer_ = nullptr;
    QScrollArea* scroller_ = nullptr;
};

}  // namespace quarvel
