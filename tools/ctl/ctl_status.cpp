// list, status and the one-report commands.

#include <QStringList>
#include <algorithm>
#include <array>
#include <ostream>

#include "commands/reports.h"
#include "ctl_commands.h"
#include "device/device_text.h"
#include "planning/derived_labels.h"
#include "planning/plan_fields.h"

namespace quarvel::ctl {

namespace {

const char* boolean(bool value) {
    return value ? "true" : "false";
}

std::string identityJson(const Connection& c) {
    return "\"SerNo\":" + jsonString(c.serial()) + ",\"lblManuf\":" + jsonString(c.manufacturer()) +
           ",\"lblProduct\":" + jsonString(c.product()) +
           ",\"lblVersion\":" + jsonString(QString::fromStdString(formatRelease(c.release())));
}

void printStatus(const Invocation& in, const Connection& c, const DeviceStatus& s,
                 const std::optional<LockState>& lock) {
    const double out1Hz = outputFrequency(s.gps, s.n31, s.n2ls, s.n2hs, s.n1hs, s.nc1ls);
    const double f3Hz = f3Hertz(s.gps, s.n31);
    const double foscGHz = foscGigahertz(s.gps, s.n31, s.n2hs, s.n2ls);
    // NC2_LS, output 2 and the phase step as the window's fields show them, so the divider and
    // the frequency belong together (an odd NC2_LS shows as its even neighbour).
    PlanFields fields(cLocale());
    fields.readout(s);
    const int phaseIndex = std::max(fields.phaseIndex, 0);
    const std::string degrees =
        fields.phases().isEmpty() ? "null" : fields.phases()[phaseIndex].toStdString();
    const std::string nc2 = fields.dividers.nc2ls.toStdString();
    const auto out2 = fields.out2Value();
    const int milliamps = 8 * (s.driveStrength + 1);
    std::ostream& out = in.out;
    if (in.json) {
        out << '{' << identityJson(c) << ",\"OUT1EN\":" << boolean(s.output1)
            << ",\"OUT2EN\":" << boolean(s.output2) << ",\"Enc1\":" << milliamps
            << planJson({s.gps, s.n31, s.n2hs, s.n2ls, s.n1hs, s.nc1ls,
                         fields.value(fields.dividers.nc2ls), phaseIndex,
                         static_cast<double>(s.bandwidth)},
                        ",\"Phase\":" + degrees)
            << ",\"Out1Freq\":" << number(out1Hz) << ",\"OUT2\":" << (out2 ? number(*out2) : "null")
            << ",\"F3\":" << number(f3Hz) << ",\"Fosc\":" << number(foscGHz);
        if (lock) {
            out << ",\"LOS\":" << boolean(lock->noGpsSignal)
                << ",\"LOL\":" << boolean(lock->pllNotLocked)
                << ",\"SignalLossCount\":" << lock->signalLossCount << "}\n";
        } else {
            out << ",\"LOS\":null,\"LOL\":null,\"SignalLossCount\":null}\n";
        }
        return;
    }
    const auto onOff = [](bool on) { return on ? "on" : "off"; };
    out << "Serial number:   " << printable(c.serial()) << '\n'
        << "Manufacturer:    " << printable(c.manufacturer()) << '\n'
        << "Product:         " << printable(c.product()) << '\n'
        << "Release:         " << formatRelease(c.release()) << '\n'
        << "Outputs:         output 1 " << onOff(s.output1) << ", output 2 " << onOff(s.output2)
        << '\n'
        << "Drive strength:  " << milliamps << " mA\n"
        << "GPS:             " << number(s.gps) << " Hz\n"
        << "Dividers:        N31 " << number(s.n31) << ", N2_HS " << number(s.n2hs) << ", N2_LS "
        << number(s.n2ls) << ", N1_HS " << number(s.n1hs) << ", NC1_LS " << number(s.nc1ls)
        << ", NC2_LS " << nc2
        << (number(s.nc2ls) == nc2
                ? std::string()
                : " (the device holds " + number(s.nc2ls) + "; a plain upload sends " + nc2 + ")")
        << '\n'
        << "Phase step:      " << phaseIndex << " (" << degrees << " degrees)\n"
        << "BW:              " << s.bandwidth << '\n'
        << "Output 1:        " << number(out1Hz) << " Hz\n"
        << "Output 2:        " << (out2 ? number(*out2) + " Hz" : "none") << '\n'
        << "F3:              " << number(f3Hz) << " Hz\n"
        << "Fosc:            " << number(foscGHz) << " GHz\n";
    if (lock) {
        out << "GPS signal:      " << (lock->noGpsSignal ? "no GPS signal" : "present") << '\n'
            << "PLL:             " << (lock->pllNotLocked ? "no PLL lock" : "locked") << '\n'
            << "Signal losses:   " << lock->signalLossCount << '\n';
    } else {
        out << "Lock state:      unknown (no input report within 2 s)\n";
    }
}

struct SimplePayload {
    Command command;
    std::vector<std::uint8_t> payload;
};

// The report a one-report command sends, or the sentence that says what is wrong.
std::optional<SimplePayload> simplePayload(const Invocation& in, std::string& problem) {
    const std::string& c = in.command;
    const std::string arg = in.operands.empty() ? "" : in.operands[0];
    const auto pick = [&](std::initializer_list<std::pair<const char*, int>> choices,
                          Command command) -> std::optional<SimplePayload> {
        std::string names;
        for (const auto& [name, value] : choices) {
            if (arg == name) return SimplePayload{command, {static_cast<std::uint8_t>(value)}};
            names += (names.empty() ? "" : ", ") + std::string(name);
        }
        problem = c + " takes one of " + names + "; see --help.";
        return std::nullopt;
    };
    if (c == "enable") {
        return pick({{"none", 0},
                     {"1", kOutput1Bit},
                     {"2", kOutput2Bit},
                     {"both", kOutput1Bit | kOutput2Bit}},
                    Command::OutputEnable);
    }
    if (c == "identify") return pick({{"off", 0}, {"1", 1}, {"2", 2}}, Command::Identify);
    if (c == "drive") {
        return pick({{"8", 0}, {"16", 1}, {"24", 2}, {"32", 3}}, Command::DriveStrength);
    }
    if (c == "sleep") return SimplePayload{Command::Sleep, {}};
    const auto reg = registerByte(QString::fromStdString(in.operands[0]), cLocale());
    const auto data = registerByte(QString::fromStdString(in.operands[1]), cLocale());
    if (!reg || !data) {
        problem = "REG and DATA must each be a number from 0 to 255; nothing was sent.";
        return std::nullopt;
    }
    return SimplePayload{Command::RegisterWrite, {*reg, *data}};
}

}  // namespace

std::optional<LockState> waitForLock(Connection& c, const Environment& env) {
    constexpr std::chrono::milliseconds kLockWait{2000};
    constexpr std::chrono::milliseconds kLockPoll{50};
    for (auto waited = std::chrono::milliseconds(0);; waited += kLockPoll) {
        if (const auto lock = c.newestLock()) return lock;
        if (waited >= kLockWait || env.stopRequested()) return std::nullopt;
        env.sleep(kLockPoll);
    }
}

std::string planJson(const PlanValues& values, const std::string& afterPhase) {
    std::string json;
    for (const PlanFieldLayout& f : kPlanLayout) {
        json += ",\"" + std::string(f.name) + "\":" + number(planValue(values, f.field));
        if (f.field == PlanField::PhaseBox) json += afterPhase;
    }
    return json;
}

int listCommand(const Invocation& in) {
    std::vector<ListedGenerator> devices = listGenerators(in.env.backend, ListDetail::Identity);
    if (in.serial) {
        std::erase_if(devices, [&in](const ListedGenerator& d) {
            return d.knownSerial() != QString::fromStdString(*in.serial);
        });
    }
    // Nothing attached is the absent device of the exit statuses, so a script can test for it.
    if (devices.empty()) {
        return in.fail({kDeviceError, in.serial ? "No attached clock generator has serial number " +
                                                      *in.serial + "; connect it and try again."
                                                : std::string("No clock generator is attached; "
                                                              "connect one and try again.")});
    }
    int status = kOk;
    for (const ListedGenerator& d : devices) {
        const auto serial = d.knownSerial();
        const QString manufacturer = deviceText(d.manufacturer.value_or(u""));
        const QString product = deviceText(d.product.value_or(u""));
        const std::string release = d.attributes ? formatRelease(d.attributes->releaseNumber) : "";
        if (d.refusal) status = kDeviceError;
        if (in.json) {
            in.out << "{\"SerNo\":" << (serial ? jsonString(*serial) : "null")
                   << ",\"lblManuf\":" << jsonString(manufacturer)
                   << ",\"lblProduct\":" << jsonString(product)
                   << ",\"lblVersion\":" << jsonString(QString::fromStdString(release))
                   << ",\"path\":" << jsonString(QString::fromStdString(d.path))
                   << ",\"canOpen\":" << boolean(!d.refusal) << ",\"reason\":"
                   << (d.refusal ? jsonString(QString::fromStdString(refusalReason(*d.refusal)))
                                 : "null")
                   << "}\n";
            continue;
        }
        in.out << (serial ? printable(*serial) : std::string("(serial unreadable)")) << "  "
               << printable(manufacturer) << "  " << printable(product) << "  release " << release
               << "  "
               << (d.refusal ? "cannot be opened: " + explainRefusal(*d.refusal)
                             : std::string("can be opened"))
               << '\n';
    }
    return status;
}

int statusCommand(const Invocation& in) {
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    const auto status = c.status();
    if (!status) {
        return in.fail({kDeviceError, kNoStatusReport});
    }
    const auto lock = waitForLock(c, in.env);
    printStatus(in, c, *status, lock);
    if (!lock) {
        return in.fail({kDeviceError,
                        "The device sent no lock report within 2 seconds; check that it is "
                        "powered and try again."});
    }
    return kOk;
}

int simpleCommand(const Invocation& in) {
    std::string problem;
    const auto what = simplePayload(in, problem);
    if (!what) return in.usage(problem);
    Failure failure;
    Connection c = Connection::open(in.env.backend, in.serial, failure);
    if (!c.isOpen()) return in.fail(failure);
    const auto frame = what->command == Command::Sleep
                           ? sleepFrame(c.featureLength())
                           : commandFrame(c.featureLength(), what->command, what->payload);
    if (!frame) {
        return in.fail({kDeviceError, "This device's feature report is too short for " +
                                          in.command + "; nothing was sent."});
    }
    if (const auto problemAfterSend = sendChecked(c, *frame)) return in.fail(*problemAfterSend);
    if (in.json) {
        in.out << "{\"command\":\"" << in.command << "\",\"SerNo\":" << jsonString(c.serial())
               << ",\"sent\":true,\"payload\":[";
        const std::size_t end =
            what->command == Command::Sleep ? kSleepReportBytes : 2 + what->payload.size();
        for (std::size_t i = 2; i < end; ++i) {
            in.out << (i > 2 ? "," : "") << static_cast<int>((*frame)[i]);
        }
        in.out << "]}\n";
    } else {
        in.out << in.command << ": sent to " << printable(c.serial()) << '\n';
    }
    return kOk;
}

}  // namespace quarvel::ctl
