#include "RandomSource.h"

#include <sys/random.h>

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
