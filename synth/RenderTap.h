// SPDX-License-Identifier: GPL-3.0-or-later
// What the live render path tells the window about the sound it made: one small record per
// buffer, handed over through a preallocated ring that one thread writes (the audio thread, inside
// the renderer) and one thread reads (the window, at most 30 times a second).
//
// The writer never waits and never fails: when the reader has fallen more than the ring's length
// behind (a hidden window reads nothing at all), the oldest records are overwritten and the reader
// skips to the newest it can still get. Each slot carries a sequence number written before and
// after its fields (a sequence lock), so a record the writer overwrote while it was being read is
// recognised and dropped rather than handed on torn. The fields are relaxed atomics: the reader
// may read a slot while the writer fills it, and that must not be a data race.
//
// Real-time rules: `publish` allocates nothing, takes no lock, makes no system call.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace brinesong {

struct TapRecord {
    uint32_t sound = 0;      // changes at the start of every sound (playback)
    uint64_t frame = 0;      // the buffer's first frame, counted from the start of the sound
    uint32_t frames = 0;     // frames of the buffer that sounded
    float envelope[2] = {};  // wave envelope after the buffer's last frame, 0.1 to 1.0 (1.0 flat)
    float level[2] = {};     // root mean square of the buffer's samples, full scale 1.0
    bool gliding = false;    // a glide of the night (a step or a change-over) ran at its end
};

class RenderTap {
public:
    // About 80 s of 20 ms buffers; a power of two.
    static constexpr uint32_t kCapacity = 4096;

    // Writer side: the audio thread.
    void publish(const TapRecord& record) {
        const uint64_t n = written_.load(std::memory_order_relaxed);
        Slot& slot = slots_[n & (kCapacity - 1)];
        slot.sequence.store(2 * n + 1, std::memory_order_relaxed);  // odd: being written
        // Release stores (plain moves on this machine's processors): a reader that sees any of
        // the new fields also sees the odd sequence number before them, and drops the record.
        // A fence would say the same, but the thread sanitizer cannot follow fences.
        slot.sound.store(record.sound, std::memory_order_release);
        slot.frame.store(record.frame, std::memory_order_release);
        slot.frames.store(record.frames, std::memory_order_release);
        slot.gliding.store(record.gliding, std::memory_order_release);
        for (int c = 0; c < 2; ++c) {
            slot.envelope[c].store(record.envelope[c], std::memory_order_release);
            slot.level[c].store(record.level[c], std::memory_order_release);
        }
        slot.sequence.store(2 * n + 2, std::memory_order_release);
        written_.store(n + 1, std::memory_order_release);
    }

    // Reader side: copies up to `max` records published since the last call into `out`, oldest
    // first, and returns how many. Records the writer overwrote before they were read are counted
    // in lost().
    size_t read(TapRecord* out, size_t max) {
        const uint64_t written = written_.load(std::memory_order_acquire);
        if (written - next_ > kCapacity) {
            lost_ += written - kCapacity - next_;
            next_ = written - kCapacity;
        }
        size_t count = 0;
        while (next_ < written && count < max) {
            const uint64_t n = next_++;
            const Slot& slot = slots_[n & (kCapacity - 1)];
            const uint64_t before = slot.sequence.load(std::memory_order_acquire);
            TapRecord r;
            // Acquire loads, so the sequence number read after them is no older than any field.
            r.sound = slot.sound.load(std::memory_order_acquire);
            r.frame = slot.frame.load(std::memory_order_acquire);
            r.frames = slot.frames.load(std::memory_order_acquire);
            r.gliding = slot.gliding.load(std::memory_order_acquire);
            for (int c = 0; c < 2; ++c) {
                r.envelope[c] = slot.envelope[c].load(std::memory_order_acquire);
                r.level[c] = slot.level[c].load(std::memory_order_acquire);
            }
            const uint64_t after = slot.sequence.load(std::memory_order_relaxed);
            if (before != 2 * n + 2 || after != before) {
                ++lost_;  // overwritten by a later record while we looked
                continue;
            }
            out[count++] = r;
        }
        return count;
    }

    uint64_t lost() const { return lost_; }

private:
    struct Slot {
        std::atomic<uint64_t> sequence{0};
        std::atomic<uint32_t> sound{0};
        std::atomic<uint64_t> frame{0};
        std::atomic<uint32_t> frames{0};
        std::atomic<bool> gliding{false};
        std::atomic<float> envelope[2] = {};
        std::atomic<float> level[2] = {};
    };
    static_assert(std::atomic<float>::is_always_lock_free &&
                  std::atomic<uint64_t>::is_always_lock_free);

    std::array<Slot, kCapacity> slots_;
    std::atomic<uint64_t> written_{0};
    // Reader's own.
    uint64_t next_ = 0;
    uint64_t lost_ = 0;
};

}  // namespace brinesong
