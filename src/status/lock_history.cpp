#include "status/lock_history.h"

#include <algorithm>
#include <limits>

namespace quarvel {

namespace {

static_assert(sizeof(LockSegment) * LockTimeline::kMaxSegments <= 675u * 1024,
              "a generator's day of history at any report rate must stay within 675 KiB");
static_assert(LockTimeline::kCoarseMs <= std::numeric_limits<std::uint16_t>::max(),
              "a coarsened stretch's lost time must fit its field");
// Coarsened stretches cover at least a minute in every two, so they leave most of the room to
// exact ones.
static_assert(2 * (LockTimeline::kKeepMs / LockTimeline::kCoarseMs + 2) <
              LockTimeline::kMaxSegments / 2);

template <typename T>
T saturated(int value) {
    return static_cast<T>(std::clamp<int>(value, 0, std::numeric_limits<T>::max()));
}

bool lost(const LookState& state, LockBand band) {
    return bandCondition(state, band) == BandCondition::Bad;
}

constexpr std::array kBands = {LockBand::Gps, LockBand::Pll};

std::size_t bandIndex(LockBand band) {
    return band == LockBand::Gps ? 0 : 1;
}

}  // namespace

BandCondition bandCondition(const LookState& state, LockBand band) {
    if (band == LockBand::Gps ? state.gpsLost : state.pllUnlocked) return BandCondition::Bad;
    switch (state.kind) {
        case LookKind::Report:
            return BandCondition::Good;
        case LookKind::NoReport:
            return BandCondition::NoReport;
        case LookKind::NoDevice:
            return BandCondition::NoDevice;
        case LookKind::Unwatched:
            return BandCondition::Unwatched;
    }
    return BandCondition::NoDevice;
}

void LockTimeline::report(EpochMs at, const LockState& lock) {
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

void LockTimeline::look(EpochMs at, LookState state, int losses) {
    if (!segments_.empty()) {
        if (at < lastLook_) {
            const EpochMs step = at - lastLook_;
            for (LockSegment& segment : segments_) segment.start += step;
            for (EpochMs& switched : switches_) switched += step;
            lastLook_ = at;
        }
        // Never drawn as the state before it: an hour asleep is not an hour of loss. Time not
        // watched is known for what it is, however long.
        if (at - lastLook_ > kGapMs && segments_.back().state.kind != LookKind::Unwatched) {
            sawGap_ = true;
            append(lastLook_, {LookKind::NoReport}, 0);
        }
    }
    append(at, state, losses);
    lastLook_ = at;
    forgetBefore(at - kKeepMs);
    coarsen();
}

void LockTimeline::append(EpochMs at, LookState state, int losses) {
    const LockSegment* last = segments_.empty() ? nullptr : &segments_.back();
    if (last && last->state == state && losses == 0) return;
    LockSegment segment{at, state, false, saturated<std::uint16_t>(losses)};
    for (const LockBand band : kBands) {
        segment.lossStarts[bandIndex(band)] =
            lost(state, band) && !(last && lost(last->state, band));
    }
    segments_.push_back(segment);
}

void LockTimeline::forgetBefore(EpochMs at) {
    while (segments_.size() >= 2 && segments_[1].start <= at) {
        segments_.pop_front();
        if (settled_ > 0) --settled_;
    }
    while (!switches_.empty() && switches_.front() < segments_.front().start) {
        switches_.pop_front();
    }
}

// Folds the oldest stretches that end within a minute of the first unsettled one into it, until
// the bound holds. A folded stretch shows the worst of each band and keeps its losses, so no
// loss leaves the count or the picture. The newest stretch is never folded.
void LockTimeline::coarsen() {
    while (segments_.size() > kMaxSegments) {
        const EpochMs limit = segments_[settled_].start + kCoarseMs;
        std::size_t end = settled_ + 1;  // one past the last stretch folded
        while (end + 1 < segments_.size() && segments_[end + 1].start <= limit) ++end;
        if (end > settled_ + 1) {
            LockSegment folded{segments_[settled_].start, {LookKind::Report}, true};
            for (std::size_t i = settled_; i < end; ++i) fold(folded, i);
            segments_[settled_] = folded;
            const auto index = [this](std::size_t i) {
                return segments_.begin() + static_cast<std::ptrdiff_t>(i);
            };
            segments_.erase(index(settled_ + 1), index(end));
        }
        ++settled_;
    }
}

void LockTimeline::fold(LockSegment& into, std::size_t index) const {
    const LockSegment& s = segments_[index];
    into.state.kind = std::max(into.state.kind, s.state.kind);
    into.state.gpsLost = into.state.gpsLost || s.state.gpsLost;
    into.state.pllUnlocked = into.state.pllUnlocked || s.state.pllUnlocked;
    into.losses = saturated<std::uint16_t>(into.losses + s.losses);
    for (const LockBand band : kBands) {
        const std::size_t b = bandIndex(band);
        into.lossStarts[b] = saturated<std::uint16_t>(into.lossStarts[b] + s.lossStarts[b]);
        const EpochMs lostHere =
            s.coarse ? s.lostMs[b] : (lost(s.state, band) ? segmentEnd(index) - s.start : 0);
        into.lostMs[b] = saturated<std::uint16_t>(static_cast<int>(into.lostMs[b] + lostHere));
    }
}

EpochMs LockTimeline::segmentEnd(std::size_t index) const {
    return index + 1 < segments_.size() ? segments_[index + 1].start : lastLook_;
}

BandSpan LockTimeline::run(LockBand band, std::size_t first, std::size_t last) const {
    BandSpan span{segments_[first].start, segmentEnd(last),
                  bandCondition(segments_[first].state, band), last + 1 == segments_.size()};
    if (span.condition != BandCondition::Bad) {
        span.held = span.length();
        return span;
    }
    int times = 0;
    for (std::size_t i = first; i <= last; ++i) {
        const LockSegment& s = segments_[i];
        times += s.lossStarts[bandIndex(band)];
        span.held += s.coarse ? s.lostMs[bandIndex(band)] : segmentEnd(i) - s.start;
    }
    // A loss whose start has been forgotten is still one.
    span.times = std::max(times, 1);
    return span;
}

bool LockTimeline::sameCondition(LockBand band, std::size_t a, std::size_t b) const {
    return bandCondition(segments_[a].state, band) == bandCondition(segments_[b].state, band);
}

std::vector<BandSpan> LockTimeline::spans(LockBand band) const {
    std::vector<BandSpan> result;
    for (std::size_t first = 0; first < segments_.size();) {
        std::size_t last = first;
        while (last + 1 < segments_.size() && sameCondition(band, first, last + 1)) ++last;
        result.push_back(run(band, first, last));
        first = last + 1;
    }
    return result;
}

BandSpan LockTimeline::spanOf(LockBand band, std::size_t index) const {
    std::size_t first = index, last = index;
    while (first > 0 && sameCondition(band, index, first - 1)) --first;
    while (last + 1 < segments_.size() && sameCondition(band, index, last + 1)) ++last;
    return run(band, first, last);
}

std::optional<BandSpan> LockTimeline::spanAt(LockBand band, EpochMs at) const {
    if (segments_.empty() || at < segments_.front().start || at > lastLook_) return std::nullopt;
    const auto after =
        std::upper_bound(segments_.begin(), segments_.end(), at,
                         [](EpochMs t, const LockSegment& s) { return t < s.start; });
    return spanOf(band, static_cast<std::size_t>(after - segments_.begin()) - 1);
}

LockHistory::LockHistory() {
    timelines_.emplace(device_, LockTimeline{});
}

void LockHistory::report(EpochMs at, const std::string& device, const LockState& lock) {
    if (device != device_) {
        if (device_.empty()) {
            // What was seen before any report belongs to the first generator that reports.
            auto before = timelines_.extract(device_);
            before.key() = device;
            timelines_.insert(std::move(before));
        } else {
            LockTimeline& left = watched();
            left.look(at, {LookKind::Unwatched}, 0);
            // Losses it counts while not watched are not placed on its record.
            left.lastCount_.reset();
            std::deque<EpochMs>& switches = timelines_[device].switches_;
            switches.push_back(at);
            if (switches.size() > LockTimeline::kMaxSegments) switches.pop_front();
        }
        device_ = device;
    }
    watched().report(at, lock);
}

void LockHistory::missing(EpochMs at) {
    watched().look(at, {LookKind::NoReport}, 0);
}

void LockHistory::absent(EpochMs at) {
    watched().sawGap_ = true;
    watched().look(at, {LookKind::NoDevice}, 0);
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
    const LockTimeline& timeline = history.timeline();
    if (timeline.empty()) return summary;
    summary.from = timeline.segments().front().start;
    summary.to = timeline.lastLook();
    for (const LockSegment& segment : timeline.segments()) summary.signalLosses += segment.losses;
    const auto collect = [&](LockBand band, std::vector<BandSpan>& into, int& count,
                             EpochMs& total) {
        for (const BandSpan& span : timeline.spans(band)) {
            if (span.condition != BandCondition::Bad) continue;
            into.push_back(span);
            count += span.times;
            total += span.held;
        }
    };
    collect(LockBand::Gps, summary.gpsLost, summary.gpsLostCount, summary.gpsLostTotal);
    collect(LockBand::Pll, summary.pllUnlocked, summary.pllUnlockedCount, summary.pllUnlockedTotal);
    return summary;
}

}  // namespace quarvel
