#include "registry/last_used.h"

#include "registry/freq_record.h"

int64_t timeNear(uint32_t stamp, int64_t now) {
    // The difference taken modulo 2^32 and read as signed is the nearest step
    // from now to a time with these bits; a tie goes to the past.
    const uint32_t ahead = stamp - uint32_t(uint64_t(now));
    const int64_t step = ahead < 0x80000000u ? int64_t(ahead) : int64_t(ahead) - 0x100000000;
    return now + step;
}

std::optional<int64_t> lastUsedAt(int32_t stored, int64_t now) {
    if (stored == unstampedTime) return std::nullopt;
    const int64_t read = timeNear(uint32_t(stored), now);
    if (read < 0) return std::nullopt;
    return read;
}

int32_t lastUsedStamp(int64_t now) {
    const auto stamp = int32_t(uint32_t(uint64_t(now)));
    return stamp == unstampedTime ? stamp - 1 : stamp;
}
