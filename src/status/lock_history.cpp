#include "status/lock_history.h"

#include <algorithm>

namespace quarvel {

namespace {

static_assert(sizeof(LockSegment) * (LockHistory::kKeepMs / LockHistory::kResolutionMs + 2) <
                  (1u << 20),
              "a day of history at any report rate must stay under 1 MiB");

// Two states within one resolution step: what a report saw beats what none saw, and a loss
// seen for a moment stays visible.
LookState merged(const LookState& a, const LookState& b) {
    if (a.kind != LookKind::Report && b.kind != LookKind::Report) return {std::max(a.kind, b.kind)};
    LookState result{LookKind::Report};
    for (const LookState& s : {a, b}) {
        if (s.kind != LookKind::Report) continue;
        result.gpsLost = result.gpsLost || s.gpsLost;
        result.pllUnlocked = result.pllUnlocked || s.pllUnlocked;
    }
    return result;
}

std::uint16_t addLosses(std::uint16_t held, int more) {
    return static_cast<std::uint16_t>(std::min(held + more, 0xFFFF));
}

}  // namespace

BandCondition bandCondition(const LookState& state, LockBand band) {
    switch (state.kind) {
        case LookKind::NoDevice:
            return BandCondition::NoDevice;
        case LookKind::NoReport:
            return BandCondition::NoReport;
        case LookKind::Report:
            break;
    }
    const bool bad = band == LockBand::Gps ? state.gpsLost : state.pllUnlocked;
    return bad ? BandCondition::Bad : BandCondition::Good;
}

void LockHistory::report(EpochMs at, const std::string& device, const LockState& lock) {
    if (!device_.empty() && device != device_) {
        segments_.clear();
        switchedAt_ = at;
        lastCount_.reset();
    }
    device_ = device;
    int losses = 0;
    if (lastCount_) {
        // The count wraps at 256; lower after the device was away means it restarted.
        const bool restarted = sawGap_ && lock.signalLossCount < *lastCount_;
        losses = restarted ? 0 : (lock.signalLossCount - *lastCount_ + 256) % 256;
    }
    lastCount_ = lock.signalLossCount;
    sawGap_ = false;
    look(at, {LookKind::Report, lock.noGpsSignal, lock.pllNotLocked}, losses);
}

void LockHistory::missing(EpochMs at) {
    look(at, {LookKind::NoReport}, 0);
}

void LockHistory::absent(EpochMs at) {
    sawGap_ = true;
    look(at, {LookKind::NoDevice}, 0);
}

void LockHistory::look(EpochMs at, LookState state, int losses) {
    if (!segments_.empty()) {
        if (at < lastLook_) {
            const EpochMs step = at - lastLook_;
            for (LockSegment& segment : segments_) segment.start += step;
            if (switchedAt_) *switchedAt_ += step;
            lastLook_ = at;
        }
        if (at - lastLook_ > kGapMs) {
            sawGap_ = true;
            // Never merged into the state before it: an hour asleep is not an hour of loss.
            const EpochMs gapStart = std::max(lastLook_, segments_.back().start + kResolutionMs);
            segments_.push_back({gapStart, {LookKind::NoReport}, 0});
        }
    }
    append(at, state, losses);
    lastLook_ = at;
    forgetBefore(at - kKeepMs);
}

void LockHistory::append(EpochMs at, LookState state, int losses) {
    if (!segments_.empty()) {
        LockSegment& last = segments_.back();
        if (last.state == state && losses == 0) return;
        if (at - last.start < kResolutionMs) {
            last.state = merged(last.state, state);
            last.losses = addLosses(last.losses, losses);
            return;
        }
    }
    segments_.push_back({at, state, addLosses(0, losses)});
}

void LockHistory::forgetBefore(EpochMs at) {
    while (segments_.size() >= 2 && segments_[1].start <= at) segments_.pop_front();
}

EpochMs LockHistory::segmentEnd(std::size_t index) const {
    return index + 1 < segments_.size() ? segments_[index + 1].start : lastLook_;
}

std::vector<BandSpan> LockHistory::spans(LockBand band) const {
    std::vector<BandSpan> result;
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        const BandCondition condition = bandCondition(segments_[i].state, band);
        if (result.empty() || result.back().condition != condition) {
            result.push_back({segments_[i].start, segments_[i].start, condition});
        }
        result.back().end = segmentEnd(i);
    }
    if (!result.empty()) result.back().ongoing = true;
    return result;
}

std::optional<BandSpan> LockHistory::spanAt(LockBand band, EpochMs at) const {
    if (segments_.empty() || at < segments_.front().start || at > lastLook_) return std::nullopt;
    const auto after =
        std::upper_bound(segments_.begin(), segments_.end(), at,
                         [](EpochMs t, const LockSegment& s) { return t < s.start; });
    const auto index = static_cast<std::size_t>(after - segments_.begin()) - 1;
    const BandCondition condition = bandCondition(segments_[index].state, band);
    const auto same = [&](std::size_t i) {
        return bandCondition(segments_[i].state, band) == condition;
    };
    std::size_t first = index, last = index;
    while (first > 0 && same(first - 1)) --first;
    while (last + 1 < segments_.size() && same(last + 1)) ++last;
    return BandSpan{segments_[first].start, segmentEnd(last), condition,
                    last + 1 == segments_.size()};
}

std::string durationText(EpochMs length) {
    const EpochMs seconds = (std::max<EpochMs>(length, 0) + 500) / 1000;
    const auto part = [](EpochMs value, const char* unit) {
        return std::to_string(value) + ' ' + unit;
    };
    if (seconds < 60) return part(seconds, "s");
    if (seconds < 3600) {
        return part(seconds / 60, "min") + (seconds % 60 ? ' ' + part(seconds % 60, "s") : "");
    }
    const EpochMs minutes = seconds / 60 % 60;
    return part(seconds / 3600, "h") + (minutes ? ' ' + part(minutes, "min") : "");
}

LockSummary summarize(const LockHistory& history) {
    LockSummary summary;
    if (history.empty()) return summary;
    summary.from = history.segments().front().start;
    summary.to = history.lastLook();
    for (const LockSegment& segment : history.segments()) summary.signalLosses += segment.losses;
    const auto collect = [&](LockBand band, std::vector<BandSpan>& into, EpochMs& total) {
        for (const BandSpan& span : history.spans(band)) {
            if (span.condition != BandCondition::Bad) continue;
            into.push_back(span);
            total += span.length();
        }
    };
    collect(LockBand::Gps, summary.gpsLost, summary.gpsLostTotal);
    collect(LockBand::Pll, summary.pllUnlocked, summary.pllUnlockedTotal);
    return summary;
}

}  // namespace quarvel
