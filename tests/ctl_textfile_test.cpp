// watch --textfile: the metrics file as the node exporter's textfile collector serves it.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <thread>

#include "ctl_cli.h"
#include "sim/simulated_bus.h"

namespace quarvel::ctl {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs `watch --textfile DIR` for 20 s of a scripted clock: one refresh after 15 s.
int watchInto(const QTemporaryDir& dir, SimulatedBus& bus) {
    QDateTime now(QDate(2026, 12, 7), QTime(12, 0, 0), Qt::UTC);
    const QDateTime stop = now.addSecs(20);
    Environment env(bus);
    env.lockDirectory = dir.path().toStdString();
    env.localClock = [&now] { return now; };
    env.sleep = [&now](std::chrono::milliseconds wait) { now = now.addMSecs(wait.count()); };
    env.stopRequested = [&] { return now >= stop; };
    std::ostringstream out, err;
    return run({"watch", "--textfile", dir.path().toStdString()}, env, out, err);
}

int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

std::string httpGet(int port, const std::string& target) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
        if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) response.append(buffer, n);
        }
    }
    close(fd);
    return response;
}

TEST(CtlTextfile, TheNodeExporterServesTheGeneratorsState) {
    QTemporaryDir dir;
    const std::string file = dir.path().toStdString() + "/quarvel.prom";
    // Another watch's generator, whose samples must survive this one's writes.
    std::ofstream(file) << "# HELP quarvel_device_present x\n# TYPE quarvel_device_present "
                           "gauge\nquarvel_device_present{serial=\"OTHER\"} 0\n";
    SimulatedBus bus;
    const DeviceId d = bus.addDevice({.serialNumber = u"01234567\"x"});
    bus.setGpsSignal(d, false);
    ASSERT_EQ(watchInto(dir, bus), kOk);

    const std::string text = readFile(file);
    for (const char* line : {
             "quarvel_device_present{serial=\"01234567\\\"x\"} 1\n",
             "quarvel_device_present{serial=\"OTHER\"} 0\n",
             "quarvel_gps_signal{serial=\"01234567\\\"x\"} 0\n",
             "quarvel_pll_locked{serial=\"01234567\\\"x\"} 1\n",
             "quarvel_signal_losses_total{serial=\"01234567\\\"x\"} 1\n",
             "quarvel_output_frequency_hertz{serial=\"01234567\\\"x\",output=\"2\"} 10000000\n",
             "quarvel_last_report_timestamp_seconds{serial=\"01234567\\\"x\"} 1796644815\n",
             "# TYPE quarvel_signal_losses_total counter\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    }
    EXPECT_EQ(text.find("# HELP quarvel_device_present x"), std::string::npos) << "one HELP";

    const char* exporter = "/usr/bin/prometheus-node-exporter";
    if (access(exporter, X_OK) != 0) {
        if (qEnvironmentVariable("CI") == "true") FAIL() << "prometheus-node-exporter missing";
        GTEST_SKIP() << "prometheus-node-exporter is not installed";
    }
    const int port = freePort();
    QProcess server;
    server.start(exporter, {QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                            "--collector.disable-defaults", "--collector.textfile",
                            "--collector.textfile.directory=" + dir.path()});
    ASSERT_TRUE(server.waitForStarted());
    std::string metrics;
    for (int i = 0; i < 100 && metrics.find("quarvel_") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        metrics = httpGet(port, "/metrics");
    }
    server.terminate();
    server.waitForFinished();
    for (const char* line : {
             "quarvel_device_present{serial=\"01234567\\\"x\"} 1\n",
             "quarvel_device_present{serial=\"OTHER\"} 0\n",
             "quarvel_gps_signal{serial=\"01234567\\\"x\"} 0\n",
             "quarvel_pll_locked{serial=\"01234567\\\"x\"} 1\n",
             "quarvel_signal_losses_total{serial=\"01234567\\\"x\"} 1\n",
             "quarvel_output_frequency_hertz{output=\"1\",serial=\"01234567\\\"x\"} 1e+07\n",
             "node_textfile_scrape_error 0\n",
         }) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
    }
}

}  // namespace
}  // namespace quarvel::ctl
