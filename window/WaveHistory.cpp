// SPDX-License-Identifier: GPL-3.0-or-later
#include "WaveHistory.h"

#include <algorithm>

namespace brinesong {

WaveHistory::WaveHistory() : entries_(kCapacity) {}

void WaveHistory::add(const TapRecord& record) {
    if (record.frames == 0) {
        return;
    }
    if (!any_ || record.sound != sound_) {
        // A new sound goes on from where the timeline stands, a blank second after the last.
        base_ = end_ + (any_ ? kGapFrames : 0) - record.frame;
        any_ = true;
        sound_ = record.sound;
    }
    const uint64_t position = base_ + record.frame;
    if (position < end_) {
        // A stretch rendered again: drop what it replaces.
        while (count_ > first_ && at(count_ - 1).position >= position) {
            --count_;
        }
        if (count_ > first_) {
            const Entry& last = at(count_ - 1);
            end_ = std::min(end_, last.position + last.frames);
        } else {
            end_ = position;
        }
        changedFrom_ = std::min(changedFrom_, position);
    }
    if (count_ - first_ == kCapacity) {
        ++first_;
    }
    Entry& entry = entries_[count_ % kCapacity];
    entry.position = position;
    entry.frames = record.frames;
    entry.gliding = record.gliding;
    for (int c = 0; c < 2; ++c) {
        entry.envelope[c] = record.envelope[c];
        entry.level[c] = record.level[c];
    }
    ++count_;
    end_ = std::max(end_, position + record.frames);
}

uint64_t WaveHistory::takeChangedFrom() {
    const uint64_t from = changedFrom_;
    changedFrom_ = end_;
    return from;
}

WaveHistory::Column WaveHistory::column(uint64_t from, uint64_t to) const {
    Column out;
    // The first entry that reaches into the column: entries are in timeline order.
    uint64_t lo = first_, hi = count_;
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (at(mid).position + at(mid).frames <= from) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    for (uint64_t n = lo; n < count_ && at(n).position < to; ++n) {
        const Entry& e = at(n);
        for (int c = 0; c < 2; ++c) {
            if (!out.sounded) {
                out.envelopeLow[c] = out.envelopeHigh[c] = e.envelope[c];
            }
            out.envelopeLow[c] = std::min(out.envelopeLow[c], e.envelope[c]);
            out.envelopeHigh[c] = std::max(out.envelopeHigh[c], e.envelope[c]);
            out.level[c] = std::max(out.level[c], e.level[c]);
        }
        out.gliding = out.gliding || e.gliding;
        out.sounded = true;
    }
    return out;
}

}  // namespace brinesong
