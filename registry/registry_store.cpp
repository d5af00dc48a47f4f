#include "registry/registry_store.h"

#include <memory>
#include <new>

#include "registry/registry_file.h"
#include "registry/store_rooms.h"
#include "text/program_name.h"

SaveReport saveRegistryFile(RegistryStore& store, FreqRegistry& registry, uint32_t keepDated) {
    SaveReport report;
    if (store.lockResult != LockResult::taken) {
        // Kept beside at each save, not only at the stop: a crash loses
        // nothing, and the file shows the operator that a host runs here
        // without the lock.
        report.status = SaveStatus::notHeld;
        writeSideFile(store, registry, report);
        return report;
    }
    // The file is still what this process wrote, or loaded and has not
    // written since, and the registry has not changed since: nothing is
    // written, so no lock need be checked either.
    FileStamp stamp;
    const uint64_t now = registry.freqs.generation();
    const bool asWritten = store.written && store.savedGeneration == now;
    const bool asLoaded = !store.savedAny && store.load.outcome == LoadOutcome::loaded &&
                          store.baseGeneration == now && store.knownState && !store.knownMissing;
    const bool unchanged = (asWritten || asLoaded) &&
                           fileStampOf(store.held, registryFileName, stamp) &&
                           stamp == (asWritten ? store.writtenStamp : store.knownStamp);
    if (unchanged && !(keepDated > 0 && datedBackupDue(store))) return report;
    if (!lockStillHeld(store, report)) {
        if (report.status == SaveStatus::failed) return report;
        report.status = SaveStatus::lockLost;
        report.reason = store.lockLostReason;
        writeSideFile(store, registry, report);
        return report;
    }
    const LoadOutcome outcome = store.load.outcome;
    if (outcome == LoadOutcome::unknown || outcome == LoadOutcome::notUsable ||
        outcome == LoadOutcome::passing) {
        // Unless it has gone since: then there is nothing left to lose.
        ReadableFile file;
        const OpenResult there = outcome == LoadOutcome::unknown
                                     ? OpenResult::opened
                                     : openRegularFile(store.held, registryFileName, file);
        closeReadableFile(file);
        if (there != OpenResult::missing) {
            report.status = SaveStatus::leftAlone;
            writeSideFile(store, registry, report);
            return report;
        }
        store.load.outcome = LoadOutcome::missing;
    }
    // Only the rewrite of the same bytes is skipped: the day's backup is
    // still made when it falls due (older ones are pruned when one is made).
    if (unchanged) {
        keepDatedBackup(store, keepDated, report); // it is due: see above
        return report;
    }
    store.written = false;
    if (keepDated > 0) keepDatedBackup(store, keepDated, report);
    const uint64_t generation = registry.freqs.generation();
    // The digests of what is saved are taken as the image is laid out.
    std::unique_ptr<DigestsByFreq> gathered;
    try {
        gathered = std::make_unique<DigestsByFreq>();
        gathered->byFreq = std::make_unique_for_overwrite<uint64_t[]>(65536);
    } catch (const std::bad_alloc&) {
        gathered.reset(); // then rememberSavedRecords makes its own pass
    }
    const auto [image, size] = registryImage(
        registry, gathered ? RecordVisitor{noteRecordDigest, gathered.get()} : RecordVisitor{});
    SafeWrite write;
    write.folder = &store.held;
    write.path = registryFileName;
    write.temporarySuffix = store.temporarySuffix.c_str();
    write.data = image.get();
    write.size = size;
    write.followLink = true;
    // Whether what goes in place differs from what this process last put
    // there, or, before its first save, from what it loaded.
    const bool changes = store.savedAny ? store.savedGeneration != generation
                                        : !unchangedSinceLoadOrSave(store, registry);
    switch (writeFileSafely(write)) {
    case WriteResult::written:
        report.status = SaveStatus::saved;
        store.written = fileStampOf(store.held, registryFileName, store.writtenStamp) &&
                        store.writtenStamp.size == size;
        rememberRegistryState(store);
        break;
    case WriteResult::renamedUnflushed:
        // Written again next time: the flush is still owed. The file in
        // place is this process's own all the same, so that a lock taken
        // back later finds it as this process left it.
        rememberRegistryState(store);
        report.status = SaveStatus::savedUnflushed;
        report.reason = lastSystemError();
        break;
    case WriteResult::failed:
        report.status = SaveStatus::failed;
        report.reason = lastSystemError();
        break;
    }
    if (report.status != SaveStatus::failed) {
        report.wroteChanges = changes;
        report.freqsSaved = registry.freqs.count();
        store.savedAny = true;
        store.savedGeneration = generation;
        if (gathered)
            rememberSavedRecords(store, registry, *gathered);
        else
            rememberSavedRecords(store, registry);
        // All the run's side file held is in the registry now; merged later,
        // its older state would bring back what was changed since.
        forgetSideFile(store);
    } else {
        writeSideFile(store, registry, report);
    }
    return report;
}

namespace {

void addSentence(std::string& text, const std::string& sentence) {
    if (sentence.empty()) return;
    if (!text.empty()) text += " ";
    text += sentence;
}

std::string sideSentence(const SaveReport& save) {
    std::string text;
    if (!save.sideName.empty())
        text = "What this process holds was written to " + save.sideName +
               " beside it; once the host is stopped, " + programFileName +
               " teams recover merges it into the registry.";
    if (!save.sideProblem.empty()) addSentence(text, "(" + save.sideProblem + ".)");
    return text;
}

} // namespace

std::string saveNotice(const SaveReport& save) {
    std::string notice;
    switch (save.status) {
    case SaveStatus::saved:
        break;
    case SaveStatus::notHeld:
        notice = std::string("Not saved to ") + registryFileName + ": this process does not hold " +
                 registryLockFileName + ", so it does not write over it.";
        addSentence(notice, save.sideName.empty() && save.sideProblem.empty()
                                ? std::string("Nothing has changed here since the load.")
                                : sideSentence(save));
        break;
    case SaveStatus::savedUnflushed:
        notice = std::string("Saved ") + registryFileName + ", but flushing its folder failed (" +
                 save.reason + "); the new file may not survive a power cut.";
        break;
    case SaveStatus::failed:
        notice = std::string("Saving ") + registryFileName + " failed (" + save.reason +
                 "); the file on disk is unchanged. Trying again at the next autosave.";
        addSentence(notice, sideSentence(save));
        break;
    case SaveStatus::leftAlone:
        notice = std::string("Not saving ") + registryFileName +
                 ": it could not be read at load and is left as it is.";
        addSentence(notice, sideSentence(save));
        break;
    case SaveStatus::lockLost:
        notice = std::string("Not saving ") + registryFileName + ": " +
                 (save.reason.empty() ? std::string(registryLockFileName) +
                                            " was deleted or replaced, and another host process "
                                            "now holds it"
                                      : save.reason) +
                 ".";
        addSentence(notice, sideSentence(save));
        break;
    }
    if (!save.backupProblem.empty())
        addSentence(notice, "The daily backup " + save.backupProblem + ".");
    if (!save.backupUnflushed.empty())
        addSentence(notice, "The daily backup " + save.backupUnflushed + ".");
    if (!save.pruneProblem.empty())
        addSentence(notice, "An old daily backup " + save.pruneProblem + " could not be removed.");
    return notice;
}

std::string saveAuditText(const SaveReport& save) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (part.empty()) return;
        if (!text.empty()) text += "; ";
        text += part;
    };
    switch (save.status) {
    case SaveStatus::saved:
        break;
    case SaveStatus::notHeld:
        add(std::string("not saved: this process does not hold ") + registryLockFileName);
        break;
    case SaveStatus::savedUnflushed:
        add("saved, but flushing the directory failed (" + save.reason +
            "); the new file may not survive a power cut");
        break;
    case SaveStatus::failed:
        add("saving failed (" + save.reason + "); the file on disk is unchanged");
        break;
    case SaveStatus::leftAlone:
        add("not saved: the file that could not be read at load is left as it is");
        break;
    case SaveStatus::lockLost:
        add(save.reason.empty()
                ? std::string("not saved: the lock file was replaced and another process holds it")
                : "not saved: " + save.reason);
        break;
    }
    if (!save.sideName.empty()) add("what this process holds was written to " + save.sideName);
    add(save.sideProblem);
    if (!save.backupProblem.empty()) add("daily backup " + save.backupProblem);
    if (!save.backupUnflushed.empty()) add("daily backup " + save.backupUnflushed);
    if (!save.pruneProblem.empty())
        add("old daily backup " + save.pruneProblem + " could not be removed");
    return text;
}

std::vector<std::string> prunedAuditTexts(const SaveReport& save) {
    std::vector<std::string> lines;
    for (const std::string& name : save.pruned)
        lines.push_back("removed the old daily backup " + name + " (beyond Backups)");
    return lines;
}

std::string savedAuditText(const SaveReport& save) {
    if (!save.wroteChanges || save.status != SaveStatus::saved) return {};
    return std::string("saved ") + registryFileName + " (" + std::to_string(save.freqsSaved) +
           (save.freqsSaved == 1 ? " freq)" : " freqs)");
}
