#include "ctl_textfile.h"

#include <QCoreApplication>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "commands/station_lock.h"
#include "common/number_text.h"
#include "ctl_commands.h"

namespace quarvel::ctl {

namespace {

constexpr const char* kFileName = "quarvel.prom";

struct Family {
    const char* name;
    const char* type;
    const char* help;
};

constexpr std::array<Family, 6> kFamilies = {{
    {"quarvel_device_present", "gauge",
     "Whether the clock generator is attached and answers (1) or not (0)."},
    {"quarvel_gps_signal", "gauge",
     "Whether the generator receives its GPS signal (1) or not (0)."},
    {"quarvel_pll_locked", "gauge", "Whether the generator's PLL is locked (1) or not (0)."},
    {"quarvel_signal_losses_total", "counter",
     "GPS signal losses counted by the generator since it was powered (wraps after 255)."},
    {"quarvel_output_frequency_hertz", "gauge", "Frequency of each output of the generator."},
    {"quarvel_last_report_timestamp_seconds", "gauge",
     "When the generator last reported its lock state, in seconds since the epoch."},
}};

// A label value in the exposition format: backslash, double quote and newline escaped.
std::string labelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

// The other generators' samples in the file as it is now, by metric name.
std::map<std::string, std::string> othersSamples(const std::string& path, const std::string& mine) {
    std::map<std::string, std::string> kept;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#' || line.find(mine) != std::string::npos) continue;
        if (line.find("{serial=\"") == std::string::npos) continue;
        kept[line.substr(0, line.find('{'))] += line + '\n';
    }
    return kept;
}

// The folder's lock while a watch reads the file and replaces it, so that two watches never
// write back each other's old samples (a stopped watch's lines would live on). A holder that
// keeps it unusually long is not waited for.
std::optional<StationLock> lockFolder(const std::string& directory) {
    std::string heldBy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (auto lock = StationLock::tryTake(directory, kFileName, "quarvel-ctl watch", heldBy)) {
            return lock;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

}  // namespace

MetricsFile::MetricsFile(std::string directory, const std::string& serial)
    : directory_(std::move(directory)), label_("serial=\"" + labelValue(serial) + "\"") {}

void MetricsFile::setPresent(bool present) {
    present_ = present;
}

void MetricsFile::setLock(const LockState& lock, const QDateTime& at) {
    lock_ = lock;
    lastReport_ = at;
}

void MetricsFile::setOutputs(double output1Hz, std::optional<double> output2Hz,
                             const QDateTime& at) {
    output1_ = output1Hz;
    output2_ = output2Hz;
    outputsRead_ = at;
}

bool MetricsFile::outputsDue(const QDateTime& now) const {
    return !outputsRead_.isValid() || outputsRead_.msecsTo(now) >= kRefreshMs ||
           outputsRead_.msecsTo(now) < 0;
}

std::string MetricsFile::samples() const {
    std::ostringstream out;
    const std::string l = "{" + label_;
    out << "quarvel_device_present" << l << "} " << (present_ ? 1 : 0) << '\n';
    if (lock_) {
        out << "quarvel_gps_signal" << l << "} " << (lock_->noGpsSignal ? 0 : 1) << '\n'
            << "quarvel_pll_locked" << l << "} " << (lock_->pllNotLocked ? 0 : 1) << '\n'
            << "quarvel_signal_losses_total" << l << "} " << lock_->signalLossCount << '\n';
    }
    if (output1_) {
        out << "quarvel_output_frequency_hertz" << l << ",output=\"1\"} " << plainNumber(*output1_)
            << '\n';
    }
    if (output2_) {
        out << "quarvel_output_frequency_hertz" << l << ",output=\"2\"} " << plainNumber(*output2_)
            << '\n';
    }
    return out.str();
}

std::string MetricsFile::text(const std::string& mine, const std::string& path) const {
    auto others = othersSamples(path, label_);
    std::string text;
    for (const Family& f : kFamilies) {
        std::string lines;
        for (std::size_t at = 0;
             (at = mine.find(std::string(f.name) + "{", at)) != std::string::npos;) {
            const std::size_t end = mine.find('\n', at) + 1;
            lines += mine.substr(at, end - at);
            at = end;
        }
        lines += others[f.name];
        if (lines.empty()) continue;
        text += std::string("# HELP ") + f.name + ' ' + f.help + "\n# TYPE " + f.name + ' ' +
                f.type + '\n' + lines;
    }
    return text;
}

std::optional<std::string> MetricsFile::write(const QDateTime& now) {
    const std::string current = samples();
    if (current == writtenSamples_ && written_.isValid() && written_.msecsTo(now) >= 0 &&
        written_.msecsTo(now) < kRefreshMs) {
        return std::nullopt;
    }
    std::string mine = current;
    if (lastReport_.isValid()) {
        mine += "quarvel_last_report_timestamp_seconds{" + label_ + "} " +
                plainNumber(static_cast<double>(lastReport_.toMSecsSinceEpoch()) / 1000) + '\n';
    }
    if (auto problem = replace(mine)) return problem;
    writtenSamples_ = current;
    written_ = now;
    return std::nullopt;
}

std::optional<std::string> MetricsFile::remove() {
    return replace({});
}

std::optional<std::string> MetricsFile::replace(const std::string& mine) {
    const std::string path = directory_ + "/" + kFileName;
    // A name the collector ignores (it reads *.prom only), renamed over the file when complete.
    const std::string temporary =
        path + "." + std::to_string(QCoreApplication::applicationPid()) + ".tmp";
    const auto folderLock = lockFolder(directory_);
    const std::string content = text(mine, path);
    errno = 0;
    std::error_code renamed;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << content;
        file.close();  // Windows renames no open file
        // Replaces the file whole, also where std::rename refuses an existing one (Windows).
        if (file) std::filesystem::rename(temporary, path, renamed);
        if (file && !renamed) return std::nullopt;
    }
    const int error = renamed ? renamed.value() : errno;
    std::remove(temporary.c_str());
    return "The metrics file " + path + " could not be written" +
           (error != 0 ? std::string(" (") + std::strerror(error) + ")" : std::string()) +
           "; check that the folder exists and can be written.";
}

}  // namespace quarvel::ctl
