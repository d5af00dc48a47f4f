// A side file's contents: what a run changed since it last loaded or saved
// the registry, each freq with its record as it was then (its base) and as
// it is now, so that a merge can tell a change still to make from one the
// registry already holds or has moved on from.
//
// The layout, little-endian: a header of 40 bytes (magic "HDRKCHG" and a
// zero, version, entry count, run identity, run sequence, writer's process
// number, a zero word), then one entry of 580 bytes per freq (freq, flags,
// a zero byte, change time in seconds since 1970, base record, new record,
// each record scrambled as in the registry file), then a 64-bit checksum
// of all the bytes before it (see checksumOf in change_file.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/freq_record.h"

constexpr uint32_t changeFileVersion = 1;
constexpr size_t changeFileHeaderSize = 40;
constexpr size_t changeEntrySize = 580;

// Runs are ordered by sequence, then by identity: never by a clock or a
// process number, which may go back or come round again.
struct ChangeRun {
    uint64_t identity = 0;
    uint64_t sequence = 0;
    uint32_t writer = 0; // the process number, only to tell a live run's file
};

enum class BaseKind : uint8_t {
    none,    // the freq was not registered
    record,  // base holds it
    unknown, // it changed without a copy of what it was: any difference is a conflict
};

struct FreqChange {
    uint16_t freq = 0;
    BaseKind baseKind = BaseKind::none;
    bool hasNew = false;   // false: unregistered
    int64_t changedAt = 0; // 0: not known
    FreqRecord base{};
    FreqRecord now{};
};

std::string encodeChangeFile(const ChangeRun& run, const std::vector<FreqChange>& changes);

enum class ChangeFileKind {
    changes,       // this format, whole and checked
    wholeRegistry, // the older side files: a registry's records, all of them
    torn,          // this format, but cut short or its checksum wrong
    foreign,       // neither: another file, or a version this build does not know
};

struct DecodedChangeFile {
    ChangeFileKind kind = ChangeFileKind::foreign;
    ChangeRun run;
    std::vector<FreqChange> changes; // for wholeRegistry: each record as a change without base
    std::string reason;              // for torn and foreign, in plain words
};

// Never reads past bytes; a freq named twice is torn too.
DecodedChangeFile decodeChangeFile(std::string_view bytes);

// The run of a file from its first bytes (at least the header), without the
// rest: false when they are not this format's header.
bool changeRunOf(std::string_view head, ChangeRun& run);

// Whether a and b order runs a before b (see ChangeRun).
bool runBefore(const ChangeRun& a, const ChangeRun& b);
