// watch --textfile: the metrics file as the node exporter's textfile collector serves it.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <array>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "ctl_cli.h"
#include "sim/simulated_bus.h"

namespace quarvel::ctl {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string promFile(const QTemporaryDir& dir) {
    return dir.path().toStdString() + "/quarvel.prom";
}

// Another watch's generator in the file, then `watch --textfile DIR` for 20 s of a scripted
// clock (one refresh after 15 s): the file as it was in the last second.
std::string writeMetrics(const QTemporaryDir& dir) {
    std::ofstream(promFile(dir)) << "# HELP quarvel_device_present x\n# TYPE "
                                    "quarvel_device_present gauge\n"
                                    "quarvel_device_present{serial=\"OTHER\"} 0\n";
    SimulatedBus bus;
    // An odd NC2_LS: output 2 as the device makes it, not as the window shows it.
    const DeviceId d =
        bus.addDevice({.serialNumber = u"01234567\"x", .plan = SimPlan{.nc2Ls = 47}});
    bus.setGpsSignal(d, false);
    QDateTime now(QDate(2026, 12, 7), QTime(12, 0, 0), Qt::UTC);
    const QDateTime stop = now.addSecs(20);
    std::string running;
    Environment env(bus);
    env.lockDirectory = dir.path().toStdString();
    env.localClock = [&now] { return now; };
    env.sleep = [&](std::chrono::milliseconds wait) {
        now = now.addMSecs(wait.count());
        if (now.secsTo(stop) == 1) running = readFile(promFile(dir));
    };
    env.stopRequested = [&] { return now >= stop; };
    std::ostringstream out, err;
    EXPECT_EQ(run({"watch", "--textfile", dir.path().toStdString()}, env, out, err), kOk);
    return running;
}

// The state of the generator watched, and the other watch's generator kept beside it.
constexpr std::array<const char*, 5> kStateLines{
    "quarvel_device_present{serial=\"01234567\\\"x\"} 1\n",
    "quarvel_device_present{serial=\"OTHER\"} 0\n",
    "quarvel_gps_signal{serial=\"01234567\\\"x\"} 0\n",
    "quarvel_pll_locked{serial=\"01234567\\\"x\"} 1\n",
    "quarvel_signal_losses_total{serial=\"01234567\\\"x\"} 1\n",
};

// Every line of kStateLines and of `more` stands in `text`.
void expectLines(const std::string& text, std::initializer_list<const char*> more) {
    for (const char* line : kStateLines)
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    for (const char* line : more) EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// Rewritten whole over the file before it (which Windows' plain rename refuses), keeping the
// other generator's samples.
TEST(CtlTextfile, WatchWritesTheGeneratorsStateBesideOthers) {
    QTemporaryDir dir;
    const std::string text = writeMetrics(dir);
    expectLines(text,
                {
                    "quarvel_output_frequency_hertz{serial=\"01234567\\\"x\",output=\"2\"} "
                    "9787234.04255319\n",
                    "quarvel_last_report_timestamp_seconds{serial=\"01234567\\\"x\"} 1796644815\n",
                    "# TYPE quarvel_signal_losses_total counter\n",
                });
    EXPECT_EQ(text.find("# HELP quarvel_device_present x"), std::string::npos) << "one HELP";
    // A stopped watch leaves no lines that look current, and the other watch's stay.
    const std::string after = readFile(promFile(dir));
    EXPECT_EQ(after.find("01234567"), std::string::npos) << after;
    EXPECT_NE(after.find("quarvel_device_present{serial=\"OTHER\"} 0\n"), std::string::npos);
}

#if defined(__linux__)
// A program running for the test's scope, its output discarded. Not QProcess: qemu-user refuses
// the clone with a pidfd that QProcess starts programs with.
class Server {
  public:
    explicit Server(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&quiet, 1, 2);
        if (posix_spawn(&pid_, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&quiet);
    }
    ~Server() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    bool started() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

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
    const std::string running = writeMetrics(dir);
    std::ofstream(promFile(dir)) << running;
    const char* exporter = "/usr/bin/prometheus-node-exporter";
    if (access(exporter, X_OK) != 0) {
        if (qEnvironmentVariable("CI") == "true") FAIL() << "prometheus-node-exporter missing";
        GTEST_SKIP() << "prometheus-node-exporter is not installed";
    }
    const int port = freePort();
    std::string metrics;
    {
        const Server server({exporter, "--web.listen-address=127.0.0.1:" + std::to_string(port),
                             "--collector.disable-defaults", "--collector.textfile",
                             "--collector.textfile.directory=" + dir.path().toStdString()});
        ASSERT_TRUE(server.started());
        for (int i = 0; i < 100 && metrics.find("quarvel_") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            metrics = httpGet(port, "/metrics");
        }
    }
    expectLines(metrics,
                {
                    "quarvel_output_frequency_hertz{output=\"1\",serial=\"01234567\\\"x\"} 1e+07\n",
                    "node_textfile_scrape_error 0\n",
                });
}
#endif

}  // namespace
}  // namespace quarvel::ctl
