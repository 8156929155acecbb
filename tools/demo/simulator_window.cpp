#include "simulator_window.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace quarvel {

std::vector<SimulatedDevice> addDemoDevices(SimulatedBus& bus) {
    std::vector<SimulatedDevice> devices;
    for (const std::u16string serial : {u"Q3A0017", u"Q8B0342"}) {
        SimDeviceConfig config;
        config.serialNumber = serial;
        devices.push_back({bus.addDevice(config), serial});
    }
    return devices;
}

QString panelTitle(std::u16string_view serialNumber) {
    return QString::fromStdU16String(std::u16string(serialNumber)) + QStringLiteral(" (BW ") +
           QString::number(defaultBandwidth(serialNumber)) + QStringLiteral(")");
}

SimulatorWindow::SimulatorWindow(SimulatedBus& bus, std::vector<SimulatedDevice> devices,
                                 QWidget* parent)
    : QWidget(parent), bus_(bus), devices_(std::move(devices)) {
    setObjectName(QStringLiteral("Simulator"));
    setWindowTitle(QStringLiteral("Simulator"));
    auto* content = new QWidget;
    auto* layout = new QHBoxLayout(content);
    for (const SimulatedDevice& device : devices_) {
        panels_.push_back(makePanel(device));
        layout->addWidget(panels_.back().box);
    }
    // At a large scale factor the panels need more than the screen: they scroll.
    scroller_ = new QScrollArea(this);
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidgetResizable(true);
    scroller_->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroller_);
    fitToScreen(screen()->availableGeometry().size());
    refresh();

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &SimulatorWindow::refresh);
    refreshTimer_->start();
}

SimulatorWindow::DevicePanel SimulatorWindow::makePanel(const SimulatedDevice& device) {
    DevicePanel panel;
    panel.box = new QGroupBox(panelTitle(device.serialNumber), this);
    auto* column = new QVBoxLayout(panel.box);
    const auto checkBox = [&](const QString& text) {
        auto* box = new QCheckBox(text, panel.box);
        column->addWidget(box);
        return box;
    };
    const auto button = [&](const QString& text) {
        auto* push = new QPushButton(text, panel.box);
        column->addWidget(push);
        return push;
    };
    panel.plugged = checkBox(QStringLiteral("Plugged in"));
    panel.gpsSignal = checkBox(QStringLiteral("GPS signal"));
    panel.pllLocked = checkBox(QStringLiteral("PLL locked"));
    // Named by panel, so that scripts can find them in the geometry quarvel-demo prints.
    const QString index = QString::number(panels_.size());
    panel.gpsSignal->setObjectName(QStringLiteral("gpsSignal") + index);
    panel.pllLocked->setObjectName(QStringLiteral("pllLocked") + index);
    panel.refusesOpen = checkBox(QStringLiteral("Refuse to open (no permission)"));
    panel.countLoss = button(QStringLiteral("Count a signal loss"));
    panel.failStatus = button(QStringLiteral("Fail next status request"));
    panel.failInput = button(QStringLiteral("Fail next input report"));
    panel.state = new QLabel(panel.box);
    column->addWidget(panel.state);
    column->addStretch();

    // clicked, not toggled: only the user's click acts on the bus, refresh() only shows it.
    const DeviceId id = device.id;
    connect(panel.plugged, &QCheckBox::clicked, this, [this, id](bool on) {
        if (on) {
            bus_.plug(id);
        } else {
            bus_.unplug(id);
        }
        refresh();
    });
    connect(panel.gpsSignal, &QCheckBox::clicked, this, [this, id](bool on) {
        bus_.setGpsSignal(id, on);
        refresh();
    });
    connect(panel.pllLocked, &QCheckBox::clicked, this, [this, id](bool on) {
        bus_.setPllLocked(id, on);
        refresh();
    });
    // The bus cannot be asked whether a device refuses, so the check box is the record of it.
    connect(panel.refusesOpen, &QCheckBox::clicked, this,
            [this, id](bool on) { bus_.setRefusesOpen(id, on); });
    connect(panel.countLoss, &QPushButton::clicked, this, [this, id] {
        bus_.countSignalLoss(id);
        refresh();
    });
    connect(panel.failStatus, &QPushButton::clicked, this,
            [this, id] { armFault(id, SimCall::GetFeature); });
    connect(panel.failInput, &QPushButton::clicked, this,
            [this, id] { armFault(id, SimCall::ReadInput); });
    return panel;
}

void SimulatorWindow::fitToScreen(const QSize& available) {
    const QSize content = scroller_->widget()->sizeHint();
    // The title bar also needs room; the window manager's frame is not known before showing.
    const QSize room = available - QSize(0, style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const int bar = content.width() > room.width() || content.height() > room.height()
                        ? style()->pixelMetric(QStyle::PM_ScrollBarExtent)
                        : 0;
    resize((content + QSize(bar, bar)).boundedTo(room));
}

void SimulatorWindow::armFault(DeviceId device, SimCall call) {
    // Each click fails one more request: the bus itself only sets the count.
    const std::size_t pending = bus_.pendingFaults(device, call);
    if (pending < SimulatedBus::kAlways - 1) bus_.failNext(device, call, pending + 1);
    refresh();
}

void SimulatorWindow::refresh() {
    for (std::size_t i = 0; i < panels_.size(); ++i) showState(panels_[i], devices_[i].id);
}

void SimulatorWindow::showState(const DevicePanel& panel, DeviceId device) {
    const auto show = [](QCheckBox* box, bool on) {
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    };
    show(panel.plugged, bus_.isPlugged(device));
    show(panel.gpsSignal, bus_.gpsSignal(device));
    show(panel.pllLocked, bus_.pllLocked(device));

    QString text = QStringLiteral("Signal losses: %1").arg(bus_.signalLossCount(device));
    const std::size_t status = bus_.pendingFaults(device, SimCall::GetFeature);
    const std::size_t input = bus_.pendingFaults(device, SimCall::ReadInput);
    if (status + input > 0) {
        text += QStringLiteral("\nWaiting to fail: %1 status, %2 input").arg(status).arg(input);
    }
    panel.state->setText(text);
}

}  // namespace quarvel
