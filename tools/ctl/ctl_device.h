#pragma once
// quarvel-ctl's side of the device link: which generators are attached, choosing one by
// serial number, and one open connection with its status and lock reads.

#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/device_text.h"
#include "device/generators.h"
#include "device/hid_backend.h"
#include "device/open_handle.h"
#include "status/status_report.h"

namespace quarvel::ctl {

inline constexpr int kOk = 0;
inline constexpr int kDeviceError = 1;  // absent, not openable, transfer, read-back, no plan
inline constexpr int kUsageError = 2;   // bad usage, or input not a number or out of range

// What failed, for standard error, with the exit status it earns.
struct Failure {
    int status = kDeviceError;
    std::string message;  // one sentence that says what to do
};

class Connection {
  public:
    // Opens the one attached generator, or the one with this serial number.
    static Connection open(HidBackend& backend, const std::optional<std::string>& serial,
                           Failure& failure);
    bool isOpen() const { return link_.plain.isOpen(); }
    void close();

    const QString& serial() const { return serial_; }
    const QString& manufacturer() const { return manufacturer_; }
    const QString& product() const { return product_; }
    std::uint16_t release() const { return link_.attributes.releaseNumber; }
    int featureLength() const { return lengths_.feature; }

    bool send(std::span<const std::uint8_t> frame);
    // The raw status frame (featureLength bytes); empty when it cannot be read.
    std::optional<std::vector<std::uint8_t>> statusFrame();
    std::optional<DeviceStatus> status();
    // Reads every waiting input report (a bounded number) and keeps the newest; empty when
    // none was waiting.
    std::optional<LockState> newestLock();

  private:
    HidBackend* backend_ = nullptr;
    GeneratorLink link_;
    QString serial_, manufacturer_, product_;
    ReportLengths lengths_;
};

// Whether the status read back now reflects the frame sent.
std::optional<Failure> checkReadBack(Connection& connection, std::span<const std::uint8_t> sent);

// Sends a command and checks that the status read back reflects it.
std::optional<Failure> sendChecked(Connection& connection, std::span<const std::uint8_t> frame);

}  // namespace quarvel::ctl
