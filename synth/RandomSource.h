// SPDX-License-Identifier: GPL-3.0-or-later
// The uniform random source every wave generator draws from.
//
// It reproduces, draw for draw, the additive feedback generator behind the C library's random()
// (a 31-word table, taps at 3 and 31, the first 310 outputs discarded after seeding), so that
// `srandom(seed)`-style seeding gives the well-known sequence and an export made with a given seed
// is the same on every machine. It is our own code rather than random() because random() takes a
// lock on every call; the render loop draws four times per sample and must make no library call.
//
// One instance, `sharedRandomSource()`, serves the whole process. It carries no lock: only the
// activity holding the render lock (a playback or an export) draws from it, and seeding happens at
// launch before anything renders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brinesong {

class RandomSource {
public:
    static constexpr int32_t kMax = 2147483647;  // largest value next() returns: 2^31 - 1

    // Seeded as srandom(1) would be, which is what random() gives before any seeding.
    RandomSource() { seed(1); }
    explicit RandomSource(uint32_t seedValue) { seed(seedValue); }

    // Restarts the sequence exactly as srandom(seedValue) does (0 counts as 1).
    void seed(uint32_t seedValue);

    // Seeds from the system's entropy source; falls back to the clock if none can be read.
    void seedFromEntropy();

    // Next value, 0 to 2^31 - 1 inclusive.
    int32_t next() {
        uint32_t value = table_[front_] += table_[rear_];
        front_ = front_ == kDegree - 1 ? 0 : front_ + 1;
        rear_ = rear_ == kDegree - 1 ? 0 : rear_ + 1;
        return static_cast<int32_t>(value >> 1);
    }

    // The next `count` draws at once, much quicker than one by one: `buffer` has room for
    // kHistory + count words, and draw i is buffer[kHistory + i] >> 1 (`DrawBuffer` reads them).
    static constexpr size_t kHistory = 31;
    void fill(uint32_t* buffer, size_t count);

    // Moves on `count` draws, exactly as that many calls of next() would, in time that grows with
    // the logarithm of `count`: what lets a second thread start where the first will end.
    void discard(uint64_t count);

    // A number that stands for the point the sequence has reached, without moving it on: two
    // sources give the same draws from here exactly when their fingerprints match (but for a
    // rare collision). What a sound that must be drawn from its seed without drawing hashes.
    uint64_t fingerprint() const;

private:
    static constexpr int kDegree = 31;
    static constexpr int kSeparation = 3;

    uint32_t table_[kDegree];
    int front_ = kSeparation;
    int rear_ = 0;
};

// Draws made ahead by `RandomSource::fill`, handed out in order as `next()` would give them.
struct DrawBuffer {
    const uint32_t* next_;
    int32_t next() { return static_cast<int32_t>(*next_++ >> 1); }
};

// The process-wide source shared by all generators.
RandomSource& sharedRandomSource();

}  // namespace brinesong
