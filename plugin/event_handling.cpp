#include "plugin/event_handling.h"

#include <algorithm>
#include <memory>

#include "commands/dispatch.h"
#include "commands/help.h"
#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/freq_expiry.h"
#include "registry/last_used.h"
#include "registry/side_files.h"
#include "text/ascii.h"
#include "text/number.h"
#include "text/replace.h"

namespace {

const char connectedLine[] = "DLL plugin connected.";
const char outOfDateLine[] = "DLL plugin cannot connect.  This plugin is out of date.";
const char needsNewerHostLine[] =
    "DLL plugin cannot connect.  This plugin requires the latest version of Zandrel.";
const char disconnectedLine[] = "DLL plugin disconnected.";
const char autoSaveLine[] = "AutoSave...";
const char notAllowedLine[] = "You are not allowed on that freq";

void echoIfAny(BotInstance& instance, const std::string& line) {
    if (!line.empty()) echo(instance, line.c_str());
}

void handleConnect(BotInstance& instance, PluginState& state, const BotEvent& event) {
    instance.callback = reinterpret_cast<HostCallback>(event.slot[1]);
    instance.playerList = reinterpret_cast<PlayerNode* const*>(event.slot[2]);
    uint32_t version = uint32_t(event.slot[0]);
    uint32_t major = version >> 16;
    if (major > interfaceMajor) {
        echo(instance, outOfDateLine);
        instance.disabled = true;
        return;
    }
    if (major < interfaceMajor) {
        echo(instance, needsNewerHostLine);
        instance.disabled = true;
        return;
    }
    // The bot's settings, and the process's from now on (the last bot to
    // connect sets those for the save at unload), with the autosave countdown
    // armed from them: first, so that no failure in the work below leaves
    // the bot with every setting 0 and no autosave. Should the read itself
    // fail, the settings last read stand in.
    LoadedConfig loaded;
    try {
        loaded = readSettings(state);
    } catch (...) {
        instance.iniConfig = state.lastIniConfig;
        instance.autoSaveCountdown = instance.iniConfig.autoSaveDelay;
        throw;
    }
    instance.iniConfig = loaded.values;
    instance.autoSaveCountdown = instance.iniConfig.autoSaveDelay;
    echo(instance, connectedLine);
    // What failed at the start is tried again while nothing has changed.
    bool tookOver = false;
    const std::string retried = retryStart(state, &tookOver);
    if (!state.loadTold) {
        state.loadTold = true;
        echoIfAny(instance, folderNotice(state.store));
        echoIfAny(instance, loadNotice(state.store.load));
        echoIfAny(instance, state.loadSweepNotice);
        state.loadSweepNotice.clear();
        if (tookOver) echo(instance, retried.c_str());
    } else {
        echoIfAny(instance, retried);
    }
    // Said at every connection: the operator must not believe he is saving.
    echoIfAny(instance, lockNotice(state.store));
    // Said at every connection while they remain: nothing else brings back
    // what they hold.
    echoIfAny(instance, sideFilesNotice(sideFilesIn(state.store.held).size()));
    echoIfAny(instance, loaded.fileProblem);
    for (const char* line : loaded.errorLines)
        echo(instance, line);
    for (const std::string& line : loaded.unknownKeyLines)
        echo(instance, line.c_str());
    if (!state.loadLogged) {
        state.loadLogged = true;
        const std::string text = loadAuditText(state.store.load);
        if (!text.empty()) auditLog(state.log, pluginActor(state), "load", noFreq, text);
    }
    if (instance.iniConfig.auditLog != 0) echoIfAny(instance, auditLogProblem(state.log));
}

// A save that threw kept nothing beside yet: what changed goes there now, as
// after any failed save, unless that fails too (the next autosave tries).
void keepAfterFailedSave(PluginState& state, SaveReport& save) {
    try {
        keepInSideFile(state.store, state.registry, save);
    } catch (...) {
    }
}

// The periodic save. Whatever fails in it (out of memory included) is told,
// and the countdown, already re-armed, brings the next attempt.
void autoSave(BotInstance& instance, PluginState& state) {
    const AuditActor bot = actorWithoutPlayer(instance.handle, instance.iniConfig.auditLog != 0);
    SaveReport save;
    try {
        echoIfAny(instance, retryStart(state));
        const ExpirySweep sweep =
            expireUnusedFreqs(state.registry, state.store, instance.iniConfig.expireUnusedDays,
                              instance.iniConfig.backups, state.log, bot);
        echoIfAny(instance, sweep.notice);
        // The lines of the changes reach the disk before the changes do.
        flushAuditLog(state.log);
        save = saveRegistryFile(state.store, state.registry, instance.iniConfig.backups);
        followRegistryLock(state); // a lock found lost at the save ends the log
    } catch (const std::exception& e) {
        save = SaveReport{};
        save.status = SaveStatus::failed;
        save.reason = failureText(&e);
        keepAfterFailedSave(state, save);
    } catch (...) {
        save = SaveReport{};
        save.status = SaveStatus::failed;
        save.reason = failureText(nullptr);
        keepAfterFailedSave(state, save);
    }
    // The words are made of short texts; should even they fail, the next
    // autosave tells again.
    try {
        // A file left alone at load stays so for the run: told once, not at
        // every autosave.
        const std::string notice = saveNotice(save);
        if (save.status != SaveStatus::leftAlone || notice != state.leftAloneTold)
            echoIfAny(instance, notice);
        state.leftAloneTold = save.status == SaveStatus::leftAlone ? notice : std::string();
        const std::string saved = savedAuditText(save);
        if (!saved.empty()) auditLog(state.log, bot, "save", noFreq, saved);
        for (const std::string& line : prunedAuditTexts(save))
            auditLog(state.log, bot, "save", noFreq, line);
        const std::string text = saveAuditText(save);
        if (!text.empty()) auditLog(state.log, bot, "save", noFreq, text);
    } catch (...) {
    }
}

void handleTick(BotInstance& instance, PluginState& state) {
    auditLogTick(state.log);
    --instance.expiryCountdown;
    --instance.autoSaveCountdown;
    // Each countdown is re-armed before its work, so that no failure in the
    // work can stop the timer.
    if (instance.expiryCountdown == 0) {
        instance.expiryCountdown = ticksPerInviteAgeing;
        expireInvites(state.registry, instance.iniConfig.inviteExpireSeconds);
    }
    if (instance.autoSaveCountdown == 0) {
        instance.autoSaveCountdown = instance.iniConfig.autoSaveDelay;
        echo(instance, autoSaveLine);
        autoSave(instance, state);
    }
}

bool isAdmitted(FreqRegistry& registry, const FreqRecord& record, const PlayerRecord& player,
                uint16_t freq) {
    std::string_view name = fieldOf(player.name);
    if (equalsNoCase(fieldOf(record.owner), name)) return true;
    if (findInvite(registry, freq, name)) return true;
    std::string_view squad = fieldOf(record.allowedSquad);
    return !squad.empty() && equalsNoCase(squad, fieldOf(player.squad));
}

void handleFreqChange(BotInstance& instance, FreqRegistry& registry, const PlayerRecord* player) {
    if (!player) return;
    uint16_t freq = player->freq;
    FreqRecord* record = findFreq(registry, freq);
    if (!record) return;
    if (!isAdmitted(registry, *record, *player, freq)) {
        sendPrivate(instance, *player, notAllowedLine);
        sendPrivate(instance, *player, setFreqZero);
        return;
    }
    // A stamp is never set from a clock that gives no time.
    if (int64_t now = 0; wallClock(now) && record->lastUsed != lastUsedStamp(now)) {
        markChanged(registry, record->freq);
        record->lastUsed = lastUsedStamp(now);
    }
    if (fieldOf(record->welcome).empty()) return;
    Text welcome = expandWelcome(*record, *player, freq);
    sendPrivate(instance, *player, welcome.data);
}

// A call made while another runs waits for it; the operator learns once
// that the host does this.
void deferEvent(PluginState& state, const BotEvent& event) noexcept {
    try {
        const Queued queued = queueEvent(state.reentry, event);
        const AuditActor bot = actorWithoutPlayer(event.handle, state.lastIniConfig.auditLog != 0);
        if (queued == Queued::First)
            auditLog(state.log, bot, "reentry", noFreq,
                     "the host called the plug-in again before a call had returned; such calls "
                     "are handled in turn once the call before them is over");
        if (queued == Queued::Dropped && !state.reentry.dropNoted) {
            state.reentry.dropNoted = true;
            auditLog(state.log, bot, "reentry", noFreq,
                     "more than 65536 calls waited at once; calls beyond that are dropped");
        }
    } catch (...) {
    }
}

// An event that failed is told to the operator of its bot, once for each
// kind of failure, and logged; the next event is handled as usual.
void tellFailureOnce(PluginState& state, uint32_t handle, const std::string& what) {
    if (std::find(state.failuresTold.begin(), state.failuresTold.end(), what) !=
        state.failuresTold.end())
        return;
    state.failuresTold.push_back(what);
    const std::string line =
        "An event could not be handled (" + what + "); the plug-in goes on with the next one.";
    if (BotInstance* instance = findInstance(state.bots, handle); instance && !instance->disabled)
        echo(*instance, line.c_str());
    auditLog(state.log, actorWithoutPlayer(handle, state.lastIniConfig.auditLog != 0), "event",
             noFreq, "not handled: " + what);
}

void tellFailure(PluginState& state, uint32_t handle, const std::exception* failure) noexcept {
    try {
        tellFailureOnce(state, handle, failureText(failure));
    } catch (...) {
    }
}

std::string sweepFailed(const std::exception* failure) {
    return "Expiring unused freqs at load failed (" + failureText(failure) +
           "); the next autosave tries again.";
}

// Told at the first connection, logged now.
void noteSweepFailure(PluginState& state, const std::exception* failure) noexcept {
    try {
        state.loadSweepNotice = sweepFailed(failure);
        auditLog(state.log, pluginActor(state), "expiry", noFreq,
                 "expiring unused freqs at load failed (" + failureText(failure) +
                     "); the next autosave tries again");
    } catch (...) {
    }
}

void handleOne(PluginState& state, BotEvent& event) noexcept {
    // Nothing may cross into the host's process as an exception.
    try {
        // Not at load: the load's sweep writes files, which is no work for
        // the system's loader lock. Whatever becomes of it, the event that
        // brought it is handled.
        if (!state.loadSwept) {
            try {
                expireAtLoad(state);
            } catch (const std::exception& e) {
                noteSweepFailure(state, &e);
            } catch (...) {
                noteSweepFailure(state, nullptr);
            }
        }
        BotInstance* instance = findInstance(state.bots, event.handle);
        if (!instance) {
            auto created = std::make_unique<BotInstance>();
            created->handle = event.handle;
            state.bots.instances.push_back(std::move(created));
            instance = state.bots.instances.back().get();
        }
        handleEvent(*instance, state, event);
    } catch (const std::exception& e) {
        tellFailure(state, event.handle, &e);
    } catch (...) {
        tellFailure(state, event.handle, nullptr);
    }
}

} // namespace

void hostCall(PluginState& state, BotEvent& event) noexcept {
    if (state.reentry.running) return deferEvent(state, event);
    state.reentry.running = true;
    handleOne(state, event);
    QueuedEvent held;
    BotEvent next{};
    while (takeQueuedEvent(state.reentry, held, next))
        handleOne(state, next);
    state.reentry.running = false;
}

Text expandWelcome(const FreqRecord& record, const PlayerRecord& player, uint16_t freq) {
    // Each macro works on the result of the one before, so a macro brought in
    // by an earlier replacement is expanded by a later step.
    Text name(fieldOf(player.name));
    Text fnum = decimalText(freq);
    Text fname(fieldOf(record.freqName));
    Text fsquad(fieldOf(record.allowedSquad));
    Text squad(fieldOf(player.squad));
    Text points = decimalText(player.pointsA + player.pointsB);
    Text text(fieldOf(record.welcome));
    text = replaceAll(text.data, "%name%", name.data);
    text = replaceAll(text.data, "%fnum%", fnum.data);
    text = replaceAll(text.data, "%fname%", fname.data);
    text = replaceAll(text.data, "%fsquad%", fsquad.data);
    text = replaceAll(text.data, "%sq%", squad.data);
    text = replaceAll(text.data, "%points%", points.data);
    return text;
}

void handleEvent(BotInstance& instance, PluginState& state, BotEvent& event) {
    if (instance.disabled) return;
    FreqRegistry& registry = state.registry;
    switch (event.code) {
    case Connect:
        handleConnect(instance, state, event);
        break;
    case Disconnect:
        echo(instance, disconnectedLine);
        break;
    case Tick:
        handleTick(instance, state);
        break;
    case ArenaEnter:
        if (auto* self = reinterpret_cast<const PlayerRecord*>(event.slot[1]))
            instance.ownFreq = self->freq;
        break;
    case ArenaSettings:
        instance.arenaSettings = reinterpret_cast<const ArenaSettingsRecord*>(event.slot[0]);
        break;
    case ArenaLeave:
        break;
    case PlayerFreqChange:
        handleFreqChange(instance, registry, reinterpret_cast<const PlayerRecord*>(event.slot[0]));
        break;
    case Command:
        handleCommand(instance, registry, reinterpret_cast<const PlayerRecord*>(event.slot[0]),
                      reinterpret_cast<const CommandRecord*>(event.slot[1]), &state.store,
                      &state.log);
        break;
    case HelpRequest:
        handleHelp(instance, registry, reinterpret_cast<const PlayerRecord*>(event.slot[0]),
                   reinterpret_cast<const CommandRecord*>(event.slot[1]));
        break;
    default:
        break;
    }
}
