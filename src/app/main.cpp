// quarvel-config: the configuration window on the real USB bus.

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/frm_main.h"
#include "common/binary_output.h"
#include "device/hidapi_backend.h"

namespace {

constexpr const char* kUsage =
    "Usage: quarvel-config [--help | --version]\n"
    "\n"
    "Opens the configuration window for the GPS-referenced clock generators attached by USB\n"
    "(HID, vendor ID 0x6B4E, product ID 0x3C59): lists them by serial number, shows the\n"
    "chosen one's identity, settings and lock state, searches a divider set for a requested\n"
    "output 1 frequency and uploads it, and sends the output, sleep and register commands.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "The same commands are available without a window in quarvel-ctl(1).\n";

}  // namespace

int main(int argc, char* argv[]) {
    quarvel::useBinaryStandardOutput();
    // Answered before Qt starts, so that they work without a display.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("quarvel-config " QUARVEL_VERSION);
        return 0;
    }
    QApplication application(argc, argv);
    const auto backend = quarvel::makeHidapiBackend();
    quarvel::frmMain window(*backend);
    window.Form_Load();
    return QApplication::exec();
}
