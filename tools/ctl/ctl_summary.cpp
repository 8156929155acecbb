#include "ctl_summary.h"

#include <cmath>
#include <ostream>

#include "common/number_text.h"
#include "ctl_device.h"

namespace quarvel::ctl {

std::optional<std::chrono::milliseconds> parseDuration(const std::string& text) {
    QString number = QString::fromStdString(text).trimmed();
    double unit = 1000;
    if (!number.isEmpty()) {
        const QChar last = number.back();
        const QString units = QStringLiteral("smhd");
        const double scale[] = {1000, 60'000, 3'600'000, 86'400'000};
        if (const auto at = units.indexOf(last); at >= 0) {
            unit = scale[at];
            number.chop(1);
        }
    }
    const auto value = parseNumber(number, cLocale());
    // A year is more than any watch needs, and keeps the milliseconds far from overflow.
    if (!value || *value <= 0 || *value * unit > 366.0 * 86'400'000) return std::nullopt;
    return std::chrono::milliseconds(std::llround(*value * unit));
}

WatchExtras::WatchExtras(const Invocation& in) : in_(in), summary_(in.option("--summary")) {
    const auto limit = in.option("--for");
    if (!limit) return;
    if (const auto duration = parseDuration(*limit)) {
        deadline_ = in.env.localClock().addMSecs(duration->count());
    } else {
        usageError_ = Failure{kUsageError, "--for takes a time such as 90, 90s, 15m or 2h; " +
                                               *limit + " is not one."};
    }
}

void WatchExtras::report(const QString& serial, const LockState& lock) {
    history_.report(in_.env.localClock().toMSecsSinceEpoch(), serial.toStdString(), lock);
}

void WatchExtras::missing() {
    history_.missing(in_.env.localClock().toMSecsSinceEpoch());
}

void WatchExtras::absent() {
    history_.absent(in_.env.localClock().toMSecsSinceEpoch());
}

bool WatchExtras::timeUp() const {
    return deadline_ && in_.env.localClock() >= *deadline_;
}

void WatchExtras::finish() const {
    if (!summary_) return;
    const QDateTime now = in_.env.localClock();
    const LockSummary summary = summarize(history_);
    if (in_.json) {
        printJson(summary, now);
    } else {
        printText(summary, now);
    }
}

// In the clock's own zone or offset, like every other time quarvel-ctl prints.
std::string WatchExtras::when(EpochMs at, const QDateTime& now) const {
    return isoTime(now.addMSecs(at - now.toMSecsSinceEpoch()));
}

namespace {

std::string seconds(EpochMs length) {
    return number(static_cast<double>(length) / 1000);
}

std::string times(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " time" : " times");
}

}  // namespace

void WatchExtras::printText(const LockSummary& summary, const QDateTime& now) const {
    std::ostream& out = in_.out;
    if (history_.empty()) {
        out << "Summary: nothing was read." << std::endl;
        return;
    }
    out << "Summary of " << printable(QString::fromStdString(history_.device())) << " from "
        << when(summary.from, now) << " to " << when(summary.to, now) << " ("
        << durationText(summary.to - summary.from) << "):\n";
    const auto spans = [&](const char* what, const std::vector<BandSpan>& list) {
        for (const BandSpan& span : list) {
            out << what << ' ' << when(span.start, now) << " to " << when(span.end, now) << ", "
                << durationText(span.length()) << (span.ongoing ? " (still at the end)" : "")
                << '\n';
        }
    };
    spans("GPS signal lost", summary.gpsLost);
    spans("PLL unlocked", summary.pllUnlocked);
    out << "Totals: GPS signal lost " << times(summary.gpsLost.size()) << ", "
        << durationText(summary.gpsLostTotal) << "; PLL unlocked "
        << times(summary.pllUnlocked.size()) << ", " << durationText(summary.pllUnlockedTotal)
        << "; signal losses counted " << summary.signalLosses << '.' << std::endl;
}

void WatchExtras::printJson(const LockSummary& summary, const QDateTime& now) const {
    std::ostream& out = in_.out;
    const auto spans = [&](const std::vector<BandSpan>& list) {
        out << '[';
        for (std::size_t i = 0; i < list.size(); ++i) {
            out << (i > 0 ? "," : "") << "{\"start\":\"" << when(list[i].start, now)
                << "\",\"end\":\"" << when(list[i].end, now)
                << "\",\"seconds\":" << seconds(list[i].length())
                << ",\"ongoing\":" << (list[i].ongoing ? "true" : "false") << '}';
        }
        out << ']';
    };
    out << "{\"time\":\"" << isoTime(now) << "\",\"event\":\"summary\",\"SerNo\":"
        << (history_.empty() ? "null" : jsonString(QString::fromStdString(history_.device())));
    if (!history_.empty()) {
        out << ",\"from\":\"" << when(summary.from, now) << "\",\"to\":\"" << when(summary.to, now)
            << '"';
    }
    out << ",\"gpsLost\":";
    spans(summary.gpsLost);
    out << ",\"pllUnlocked\":";
    spans(summary.pllUnlocked);
    out << ",\"gpsLostCount\":" << summary.gpsLost.size()
        << ",\"gpsLostSeconds\":" << seconds(summary.gpsLostTotal)
        << ",\"pllUnlockedCount\":" << summary.pllUnlocked.size()
        << ",\"pllUnlockedSeconds\":" << seconds(summary.pllUnlockedTotal)
        << ",\"signalLosses\":" << summary.signalLosses << '}' << std::endl;
}

}  // namespace quarvel::ctl
