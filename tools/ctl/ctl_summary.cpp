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
    if (summary_) in_.printNow(describe(summarize(history_), in_.env.localClock()));
}

// In the clock's own zone or offset, like every other time quarvel-ctl prints.
std::string WatchExtras::when(EpochMs at, const QDateTime& now) const {
    return isoTime(now.addMSecs(at - now.toMSecsSinceEpoch()));
}

namespace {

std::string seconds(EpochMs length) {
    return plainNumber(static_cast<double>(length) / 1000);
}

std::string times(int count) {
    return std::to_string(count) + (count == 1 ? " time" : " times");
}

}  // namespace

// Each span a line of the text and an object of the JSON list.
OutputRecord& WatchExtras::addSpans(OutputRecord& r, const char* key, const char* what,
                                    const std::vector<BandSpan>& spans,
                                    const QDateTime& now) const {
    std::vector<std::string> objects;
    std::string lines;
    for (const BandSpan& span : spans) {
        const std::string start = when(span.start, now), end = when(span.end, now);
        OutputRecord item;
        item.add("start", jsonString(start), std::string(what) + ' ' + start)
            .add("end", jsonString(end), " to " + end)
            .add("seconds", seconds(span.held), ", " + durationText(span.held))
            // Only in the oldest part of a long watch, which the history keeps to the minute.
            .words(span.times > 1 ? " in " + std::to_string(span.times) + " losses" : "")
            .add("ongoing", jsonBool(span.ongoing), span.ongoing ? " (still at the end)" : "");
        objects.push_back(item.json());
        lines += item.text() + '\n';
    }
    return r.add(key, jsonList(objects), lines);
}

OutputRecord WatchExtras::describe(const LockSummary& summary, const QDateTime& now) const {
    OutputRecord r;
    r.add("time", jsonString(isoTime(now))).add("event", jsonString("summary"));
    if (history_.empty()) {
        r.add("SerNo", kJsonNull, "Summary: nothing was read.");
    } else {
        const QString device = QString::fromStdString(history_.device());
        const std::string from = when(summary.from, now), to = when(summary.to, now);
        r.add("SerNo", json(device), "Summary of " + printable(device))
            .add("from", jsonString(from), " from " + from)
            .add("to", jsonString(to),
                 " to " + to + " (" + durationText(summary.to - summary.from) + "):\n");
    }
    addSpans(r, "gpsLost", "GPS signal lost", summary.gpsLost, now);
    addSpans(r, "pllUnlocked", "PLL unlocked", summary.pllUnlocked, now);
    const auto total = [&](const std::string& text) {
        return history_.empty() ? std::string() : text;
    };
    const int gps = summary.gpsLostCount, pll = summary.pllUnlockedCount;
    return r
        .add("gpsLostCount", std::to_string(gps), total("Totals: GPS signal lost " + times(gps)))
        .add("gpsLostSeconds", seconds(summary.gpsLostTotal),
             total(", " + durationText(summary.gpsLostTotal)))
        .add("pllUnlockedCount", std::to_string(pll), total("; PLL unlocked " + times(pll)))
        .add("pllUnlockedSeconds", seconds(summary.pllUnlockedTotal),
             total(", " + durationText(summary.pllUnlockedTotal)))
        .add("signalLosses", std::to_string(summary.signalLosses),
             total("; signal losses counted " + std::to_string(summary.signalLosses) + '.'));
}

}  // namespace quarvel::ctl
