// SPDX-License-Identifier: GPL-3.0-or-later
#include "RandomSource.h"

#include <sys/random.h>

#include <array>
#include <bit>
#include <chrono>

namespace brinesong {

void RandomSource::seed(uint32_t seedValue) {
    // The C library stores the seed as a signed word and fills the table with the minimal standard
    // generator (16807 * x mod 2^31 - 1) by Schrage's method, which keeps every step in range even
    // for seeds that read as negative.
    int32_t word = seedValue == 0 ? 1 : static_cast<int32_t>(seedValue);
    table_[0] = static_cast<uint32_t>(word);
    for (int i = 1; i < kDegree; ++i) {
        const int64_t hi = word / 127773;
        const int64_t lo = word % 127773;
        int64_t next = 16807 * lo - 2836 * hi;
        if (next < 0) {
            next += 2147483647;
        }
        word = static_cast<int32_t>(next);
        table_[i] = static_cast<uint32_t>(word);
    }
    front_ = kSeparation;
    rear_ = 0;
    for (int i = 0; i < 10 * kDegree; ++i) {
        next();
    }
}

namespace {

// The table's words follow s[n] = s[n-3] + s[n-31] (mod 2^32), whose characteristic polynomial is
// P(x) = x^31 - x^28 - 1. Moving k draws on is multiplying by x^k modulo P: with
// x^k = sum c[i] x^i (mod P), s[m+k] = sum c[i] s[m+i] for every m.
constexpr int kWords = 31;
using Polynomial = std::array<uint32_t, kWords>;

// Folds the terms of degree 31 and more back with x^31 = x^28 + 1, highest first.
Polynomial reduce(uint32_t (&terms)[2 * kWords - 1], int highest) {
    for (int d = highest; d >= kWords; --d) {
        terms[d - 3] += terms[d];
        terms[d - kWords] += terms[d];
    }
    Polynomial out;
    for (int i = 0; i < kWords; ++i) {
        out[i] = terms[i];
    }
    return out;
}

Polynomial square(const Polynomial& a) {
    uint32_t terms[2 * kWords - 1] = {};
    for (int i = 0; i < kWords; ++i) {
        for (int j = 0; j < kWords; ++j) {
            terms[i + j] += a[i] * a[j];
        }
    }
    return reduce(terms, 2 * kWords - 2);
}

Polynomial timesX(const Polynomial& a) {
    uint32_t terms[2 * kWords - 1] = {};
    for (int i = 0; i < kWords; ++i) {
        terms[i + 1] = a[i];
    }
    return reduce(terms, kWords);
}

}  // namespace

void RandomSource::fill(uint32_t* buffer, size_t count) {
    // Laid out in a line, oldest first, each word is the sum of the ones 31 and 3 before it. The
    // three latest stay in registers, which spares the store-to-load wait of the table.
    for (int j = 0; j < kDegree; ++j) {
        buffer[j] = table_[(front_ + j) % kDegree];
    }
    // Word k of the line is buffer[k]; the draws begin at k = 31.
    uint32_t a0 = buffer[28], a1 = buffer[29], a2 = buffer[30];
    size_t k = 0;
    for (; k + 3 <= count; k += 3) {
        a0 += buffer[k];
        buffer[k + 31] = a0;
        a1 += buffer[k + 1];
        buffer[k + 32] = a1;
        a2 += buffer[k + 2];
        buffer[k + 33] = a2;
    }
    for (; k < count; ++k) {
        buffer[k + 31] = buffer[k] + buffer[k + 28];
    }
    // The latest 31 become the table, oldest first.
    for (int j = 0; j < kDegree; ++j) {
        table_[j] = buffer[count + static_cast<size_t>(j)];
    }
    front_ = 0;
    rear_ = kDegree - kSeparation;
}

void RandomSource::discard(uint64_t count) {
    // A short way is quicker walked than computed.
    if (count < 4096) {
        for (uint64_t i = 0; i < count; ++i) {
            next();
        }
        return;
    }
    Polynomial power{};
    power[0] = 1;
    for (int bit = 63 - std::countl_zero(count); bit >= 0; --bit) {
        power = square(power);
        if ((count >> bit) & 1u) {
            power = timesX(power);
        }
    }
    // The last 31 words, oldest first (the oldest is where the next draw is written), and the 30
    // after them, which the sums below reach.
    uint32_t words[2 * kWords - 1];
    for (int j = 0; j < kWords; ++j) {
        words[j] = table_[(front_ + j) % kWords];
    }
    for (int j = kWords; j < 2 * kWords - 1; ++j) {
        words[j] = words[j - 3] + words[j - kWords];
    }
    for (int j = 0; j < kWords; ++j) {
        uint32_t sum = 0;
        for (int i = 0; i < kWords; ++i) {
            sum += power[i] * words[j + i];
        }
        table_[(front_ + j) % kWords] = sum;
    }
}

uint64_t RandomSource::fingerprint() const {
    // The words oldest first, as the sequence goes on from them, folded in by a 64-bit mix.
    uint64_t hash = 0x9E3779B97F4A7C15u;
    for (int j = 0; j < kDegree; ++j) {
        hash = (hash ^ table_[(front_ + j) % kDegree]) * 0xBF58476D1CE4E5B9u;
        hash ^= hash >> 31;
    }
    return hash;
}

void RandomSource::seedFromEntropy() {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        value = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    seed(value);
}

RandomSource& sharedRandomSource() {
    static RandomSource source;
    return source;
}

}  // namespace brinesong
