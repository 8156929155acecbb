// quarvel-demo: the configuration window on two simulated clock generators, with a
// "Simulator" window beside it to plug them, take their GPS away or make them fail.
//
// Standard output gets one line per feature report a simulated device receives: its serial
// number and the bytes in hex. With --print-geometry, standard error gets the position of
// every named control of the main window ("control NAME X Y WIDTH HEIGHT", in pixels from the
// top left of the window) and of the simulator ("simulator NAME ..."), so that scripts can
// click them through the window system.
//
// With --time-lapse N the window's clock runs N times as fast, so that an hour of lock history
// fills the strip in a minute.

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <span>
#include <string>
#include <string_view>

#include "app/frm_main.h"
#include "common/binary_output.h"
#include "common/number_text.h"
#include "sim/simulated_bus.h"
#include "simulator_window.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: quarvel-demo [--print-geometry] [--time-lapse N]\n"
    "The configuration window on two simulated clock generators.\n"
    "Prints every feature report a simulated device receives to standard output.\n"
    "  --print-geometry  print the position of each control of the window to standard error\n"
    "  --time-lapse N    run the window's clock N times as fast (1 to 60), so that the lock\n"
    "                    history fills in minutes\n";

constexpr int kMargin = 24;

void printGeometry(const QWidget& window, const char* kind) {
    for (const QWidget* control : window.findChildren<QWidget*>()) {
        if (control->objectName().isEmpty()) continue;
        const QPoint at = control->mapTo(&window, QPoint(0, 0));
        std::fprintf(stderr, "%s %s %d %d %d %d\n", kind, qPrintable(control->objectName()), at.x(),
                     at.y(), control->width(), control->height());
    }
    std::fflush(stderr);
}

// The wall clock from start-up on, `lapse` times as fast.
quarvel::WindowServices services(int lapse) {
    quarvel::WindowServices services = quarvel::WindowServices::standard();
    if (lapse > 1) {
        QElapsedTimer running;
        running.start();
        services.localClock = [start = QDateTime::currentDateTime(), running, lapse] {
            return start.addMSecs(running.elapsed() * lapse);
        };
    }
    return services;
}

}  // namespace

int main(int argc, char* argv[]) {
    quarvel::useBinaryStandardOutput();
    bool geometry = false;
    int lapse = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--print-geometry") {
            geometry = true;
        } else if (arg == "--time-lapse") {
            const auto n =
                i + 1 < argc ? quarvel::parseNumber(argv[++i], QLocale::c()) : std::nullopt;
            // Beyond 60 the window's ticks would fall more than a minute apart, which the
            // history shows as missing reports.
            if (!n || *n != std::floor(*n) || *n < 1 || *n > 60) {
                std::cerr << "quarvel-demo: --time-lapse takes a whole number from 1 to 60\n";
                return 2;
            }
            lapse = static_cast<int>(*n);
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        // Anything else is left to Qt (-platform, -display, ...).
    }

    QApplication application(argc, argv);

    quarvel::SimulatedBus bus;
    // Flushed line by line: whoever reads the pipe sees each report as it happens.
    bus.setFeatureReportObserver(
        [](const std::u16string& serial, std::span<const std::uint8_t> bytes) {
            std::cout << quarvel::formatFeatureReportLine(serial, bytes) << std::endl;
        });
    auto devices = quarvel::addDemoDevices(bus);

    quarvel::frmMain window(bus, services(lapse));
    quarvel::SimulatorWindow simulator(bus, std::move(devices));
    // Closing the main window ends the demo; closing the simulator alone does not.
    simulator.setAttribute(Qt::WA_QuitOnClose, false);

    // Side by side near the top left: the window manager does not know the two belong together.
    // On a small screen (a large scale factor) the simulator stays on it, over the window.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window.move(screen.topLeft() + QPoint(kMargin, kMargin));
    simulator.move(std::max(screen.left(), std::min(screen.left() + window.width() + 3 * kMargin,
                                                    screen.right() - simulator.width() - kMargin)),
                   screen.top() + kMargin);

    window.Form_Load();
    simulator.show();
    if (geometry) {
        printGeometry(window, "control");
        printGeometry(simulator, "simulator");
    }
    return QApplication::exec();
}
