// list: the attached generators, and why one cannot be opened.

#include "ctl_commands.h"
#include "device/device_text.h"

namespace quarvel::ctl {

namespace {

OutputRecord describe(const ListedGenerator& d) {
    const auto serial = d.knownSerial();
    const QString manufacturer = deviceText(d.manufacturer.value_or(u""));
    const QString product = deviceText(d.product.value_or(u""));
    // A refused device's release is known only when the system lists it.
    const auto number = d.knownRelease();
    const auto release = number ? std::optional(formatRelease(*number)) : std::nullopt;
    OutputRecord line;
    line.add("SerNo", serial ? json(*serial) : kJsonNull,
             serial ? printable(*serial) : std::string("(serial unreadable)"))
        .add("lblManuf", json(manufacturer), "  " + printable(manufacturer))
        .add("lblProduct", json(product), "  " + printable(product))
        .add("lblVersion", release ? jsonString(*release) : kJsonNull,
             release ? "  release " + *release : std::string())
        .add("path", jsonString(d.path))
        .add("canOpen", jsonBool(!d.refusal),
             d.refusal ? "  cannot be opened: " + explainRefusal(*d.refusal)
                       : std::string("  can be opened"))
        .add("reason", d.refusal ? jsonString(refusalReason(*d.refusal)) : kJsonNull);
    return line;
}

}  // namespace

int listCommand(const Invocation& in) {
    if (const auto stopped = waitForDevice(in)) return in.fail(*stopped);
    std::vector<ListedGenerator> devices = listGenerators(in.env.backend, ListDetail::Identity);
    if (in.serial) {
        std::erase_if(devices, [&in](const ListedGenerator& d) {
            return d.knownSerial() != QString::fromStdString(*in.serial);
        });
    }
    // Nothing attached is the absent device of the exit statuses, so a script can test for it.
    if (devices.empty()) {
        const bool named = in.serial && in.env.backend.startFailure().empty();
        return in.fail({kDeviceError, named ? "No attached clock generator has serial number " +
                                                  *in.serial + "; connect it and try again."
                                            : nothingListed(in.env.backend)});
    }
    int status = kOk;
    for (const ListedGenerator& d : devices) {
        if (d.refusal) status = kDeviceError;
        in.print(describe(d));
    }
    return status;
}

}  // namespace quarvel::ctl
