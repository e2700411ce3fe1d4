// SPDX-License-Identifier: GPL-3.0-or-later
// The last half minute or so of the live render tap's records on one timeline, for the window's
// picture of the waves: the tap's reader side puts records in, the picture asks for one column of
// figures per pixel.
//
// The timeline counts frames and runs on across sounds: a new sound begins kGapFrames after the
// last one ended, so the picture stands still while nothing plays, scrolls on from there, and
// shows each playback apart from the one before. Within one
// sound a record for frames already seen replaces what was there from its frame on (live output
// may render a stretch again, and the new records are the ones heard).
//
// Plain C++ (no Qt), used on the main thread only; nothing here allocates after construction.
#pragma once

#include <cstdint>
#include <vector>

#include "synth/RenderTap.h"

namespace brinesong {

class WaveHistory {
public:
    static constexpr uint64_t kCapacity = 8192;    // records kept: 30 s of buffers of 162 frames
    static constexpr uint64_t kGapFrames = 44100;  // the blank second between two sounds

    struct Column {
        bool sounded = false;       // any record falls into the column
        float envelopeLow[2] = {};  // the envelope's range over the column, per channel
        float envelopeHigh[2] = {};
        float level[2] = {};   // the highest buffer level in the column
        bool gliding = false;  // a glide of the night ran in any record of the column
    };

    WaveHistory();

    void add(const TapRecord& record);

    // The timeline position just past the newest frame; 0 before any record.
    uint64_t end() const { return end_; }
    // The earliest position whose figures changed since the last call, or end() when only new
    // frames were added beyond what was there; resets the mark.
    uint64_t takeChangedFrom();

    // The figures of timeline frames [from, to).
    Column column(uint64_t from, uint64_t to) const;

private:
    struct Entry {
        uint64_t position;
        uint32_t frames;
        float envelope[2];
        float level[2];
        bool gliding;
    };
    const Entry& at(uint64_t n) const { return entries_[n % kCapacity]; }

    std::vector<Entry> entries_;
    uint64_t first_ = 0;  // the oldest entry kept, counted from the first ever added
    uint64_t count_ = 0;  // entries added so far (first_ .. count_-1 are kept)
    uint64_t end_ = 0;
    uint64_t changedFrom_ = 0;
    bool any_ = false;
    uint32_t sound_ = 0;
    uint64_t base_ = 0;  // timeline position of frame 0 of the current sound
};

}  // namespace brinesong
