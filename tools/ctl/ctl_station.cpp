// What a station needs around a command: waiting for the generator to be attached, and holding
// its lock while a command sends.

#include <QCoreApplication>
#include <ostream>

#include "ctl_commands.h"

namespace quarvel::ctl {

namespace {

constexpr std::chrono::milliseconds kDevicePoll{250};
constexpr std::chrono::milliseconds kLockPoll{100};

bool attached(const std::vector<ListedGenerator>& devices,
              const std::optional<std::string>& serial) {
    return std::ranges::any_of(devices, [&serial](const ListedGenerator& d) {
        const auto listed = d.listedSerial();
        return !d.refusal && (!serial || (listed && listed->toStdString() == *serial));
    });
}

// The serial number the command will use: the one named, or that of the only generator.
std::optional<std::string> targetSerial(const Invocation& in) {
    if (in.serial) return in.serial;
    const auto devices = listGenerators(in.env.backend, ListDetail::Serial);
    if (devices.size() != 1 || !devices.front().listedSerial()) return std::nullopt;
    return devices.front().listedSerial()->toStdString();
}

// A stop before anything reached the device: the exit status a shell gives a program the
// signal ended, so that a wrapper never takes it for success.
Failure stopped(int signal, const std::string& what) {
    return {128 + signal, what + "; nothing was sent."};
}

// Takes the generator's lock for the command (into in.lock), waiting at most `patience` for
// another program's; the failure when that one keeps it or a stop comes first.
std::optional<Failure> takeStationLock(const Invocation& in, std::chrono::seconds patience) {
    const auto serial = targetSerial(in);
    if (!serial) return std::nullopt;  // opening says what is wrong
    const std::string holder = "quarvel-ctl " + in.command + ", process " +
                               std::to_string(QCoreApplication::applicationPid());
    const QDateTime start = in.env.localClock();
    std::string heldBy;
    for (;;) {
        if (auto lock = StationLock::tryTake(in.env.lockDirectory, *serial, holder, heldBy)) {
            in.lock = std::move(lock);
            return std::nullopt;
        }
        if (const int signal = in.env.stopRequested()) {
            return stopped(signal,
                           "Stopped while waiting for the lock of clock generator " + *serial);
        }
        if (start.msecsTo(in.env.localClock()) >= std::chrono::milliseconds(patience).count()) {
            break;
        }
        in.env.sleep(kLockPoll);
    }
    return Failure{kDeviceError, "The clock generator " + *serial + " is in use by " + heldBy +
                                     "; try again when it has finished."};
}

}  // namespace

std::optional<Failure> waitForDevice(const Invocation& in) {
    // A HID layer that could not start never lists anything: the command says so at once.
    if (!in.wait || !in.env.backend.startFailure().empty()) return std::nullopt;
    const QDateTime start = in.env.localClock();
    while (!attached(listGenerators(in.env.backend, ListDetail::Serial), in.serial)) {
        if (const int signal = in.env.stopRequested()) {
            return stopped(signal, "Stopped while waiting for the clock generator");
        }
        const double waited = static_cast<double>(start.msecsTo(in.env.localClock())) / 1000;
        // Time is up: the command then fails as it would have without waiting.
        if (in.waitSeconds && waited >= *in.waitSeconds) return std::nullopt;
        in.env.sleep(kDevicePoll);
    }
    return std::nullopt;
}

Connection reachGenerator(const Invocation& in, Failure& failure) {
    if (const auto stop = waitForDevice(in)) {
        failure = *stop;
        return {};
    }
    if (in.lockPatience) {
        if (const auto refused = takeStationLock(in, *in.lockPatience)) {
            failure = *refused;
            return {};
        }
    }
    return Connection::open(in.env.backend, in.serial, failure);
}

}  // namespace quarvel::ctl
