#include "registry/freq_expiry.h"

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "registry/last_used.h"
#include "text/number.h"

namespace {

std::string count(uint32_t n, const char* one, const char* many) {
    return std::string(decimalText(n).view()) + " " + (n == 1 ? one : many);
}

} // namespace

bool unusedTooLong(int32_t stored, int64_t now, uint64_t days) {
    const std::optional<int64_t> lastUsed = lastUsedAt(stored, now);
    if (!lastUsed || *lastUsed > now) return false;
    const uint64_t idle = uint64_t(now - *lastUsed);
    // idle > days * 86400, without the product that could overflow.
    return idle > 0 && (idle - 1) / uint64_t(secondsPerDay) >= days;
}

ExpirySweep expireUnusedFreqs(FreqRegistry& registry, RegistryStore& store, uint32_t days,
                              uint32_t keepSnapshots, AuditLog& log, const AuditActor& actor) {
    ExpirySweep sweep;
    if (days == 0) return sweep;
    int64_t now = 0;
    int64_t wall = 0;
    // Without a time nothing can be judged unused; the next sweep tries again.
    if (!trustedNow(store, now, wall)) return sweep;
    std::vector<FreqRecord*> expired;
    uint32_t byWallClock = 0;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        if (unusedTooLong(r->lastUsed, now, days))
            expired.push_back(r);
        else if (unusedTooLong(r->lastUsed, wall, days))
            ++byWallClock;
    }
    // The system clock ran ahead of the time measured since the load: what
    // only that clock would expire stays.
    const std::string declined =
        byWallClock == 0 ? std::string()
                         : "The system clock is " +
                               count(uint32_t(std::min<int64_t>((wall - now) / 60, UINT32_MAX)),
                                     "minute", "minutes") +
                               " ahead of the time measured since the plug-in was loaded; " +
                               count(byWallClock, "freq", "freqs") + " it would expire " +
                               (byWallClock == 1 ? "stays" : "stay") + ".";
    if (expired.empty()) {
        sweep.notice = declined;
        if (!declined.empty())
            auditLog(log, actor, "expiry", noFreq,
                     "the system clock runs ahead of the time measured since load; " +
                         count(byWallClock, "freq", "freqs") + " not expired");
        return sweep;
    }

    const std::string unused = " unused for more than " + count(days, "day", "days");
    std::string snapshotName, snapshotProblem;
    if (holdsRegistry(store)) {
        const SnapshotReport snapshot = writeSnapshot(store, registry, "expiry", keepSnapshots);
        if (!snapshot.written) {
            // Nobody asked for this removal now, and the freqs can wait:
            // without an undo copy none of them goes.
            sweep.notice = "No undo copy of the registry could be made before expiring " +
                           count(uint32_t(expired.size()), "freq", "freqs") + unused + " (" +
                           snapshot.reason + "); none expired, trying again at the next autosave.";
            auditLog(log, actor, "expiry", noFreq,
                     "no undo snapshot could be written (" + snapshot.reason +
                         "); nothing expired");
            return sweep;
        }
        snapshotName = snapshot.name;
        snapshotProblem = snapshot.problem;
    }
    for (FreqRecord* r : expired) {
        Text change("unregistered, unused for more than ");
        change.append(count(days, "day", "days").c_str());
        change.append("; owner ");
        change.append(auditQuote(fieldOf(r->owner)));
        change.append(", last used ");
        const std::optional<int64_t> lastUsed = lastUsedAt(r->lastUsed, now);
        change.append(lastUsed ? auditTimeText(*lastUsed) : Text("(no time)"));
        if (!snapshotName.empty()) {
            change.append("; snapshot ");
            change.append(snapshotName.c_str());
        }
        auditLog(log, actor, "expiry", r->freq, change.view());
        removeFreq(registry, r);
    }
    sweep.expired = uint32_t(expired.size());
    sweep.notice = "Expired " + count(sweep.expired, "freq", "freqs") + unused;
    if (!declined.empty()) sweep.notice += ". " + declined;
    // The undo copy is there, but not as surely as it should be: said as the
    // commands say it.
    if (!snapshotProblem.empty()) {
        sweep.notice += (declined.empty() ? ". " : " ") +
                        std::string("Undo copy before expiring: ") + snapshotProblem + ".";
        auditLog(log, actor, "expiry", noFreq, snapshotProblem);
    }
    return sweep;
}
