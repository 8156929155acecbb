// quarvel-config: the configuration window on the real USB bus.

#include <QApplication>

#include "app/frm_main.h"
#include "device/hidapi_backend.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const auto backend = quarvel::makeHidapiBackend();
    quarvel::frmMain window(*backend);
    window.Form_Load();
    return QApplication::exec();
}
