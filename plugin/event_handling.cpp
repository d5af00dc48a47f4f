#include "plugin/event_handling.h"

#include "commands/dispatch.h"
#include "commands/help.h"
#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/freq_expiry.h"
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
    echo(instance, connectedLine);
    // What failed at the start is tried again while nothing has changed.
    const std::string retried = retryStart(state);
    if (!state.loadTold) {
        state.loadTold = true;
        echoIfAny(instance, folderNotice(state.store));
        echoIfAny(instance, loadNotice(state.store.load));
        echoIfAny(instance, state.loadSweepNotice);
        state.loadSweepNotice.clear();
    } else {
        echoIfAny(instance, retried);
    }
    // Said at every connection: the operator must not believe he is saving.
    echoIfAny(instance, lockNotice(state.store));
    LoadedConfig loaded = loadConfig();
    instance.config = loaded.values;
    echoIfAny(instance, loaded.fileProblem);
    for (const char* line : loaded.errorLines)
        echo(instance, line);
    instance.autoSaveCountdown = instance.config.autoSaveDelay;
    state.auditLogEnabled = instance.config.auditLog != 0;
    state.datedBackupsToKeep = instance.config.backups;
    if (!state.loadLogged) {
        state.loadLogged = true;
        const std::string text = loadAuditText(state.store.load);
        if (!text.empty())
            auditLog(actorWithoutPlayer(0, state.auditLogEnabled), "load", noFreq, text);
    }
    if (state.auditLogEnabled) echoIfAny(instance, auditLogProblem());
}

// The periodic save. Whatever fails in it (out of memory included) is told,
// and the countdown, already re-armed, brings the next attempt.
void autoSave(BotInstance& instance, PluginState& state) {
    const AuditActor bot = actorWithoutPlayer(instance.handle, instance.config.auditLog != 0);
    SaveReport save;
    try {
        echoIfAny(instance, retryStart(state));
        const ExpirySweep sweep =
            expireUnusedFreqs(state.registry, state.store, instance.config.expireUnusedDays,
                              instance.config.backups, bot);
        echoIfAny(instance, sweep.notice);
        save = saveRegistryFile(state.store, state.registry, instance.config.backups);
        followRegistryLock(state); // a lock found lost at the save ends the log
    } catch (const std::exception& e) {
        save = SaveReport{};
        save.status = SaveStatus::failed;
        save.reason = failureText(&e);
    } catch (...) {
        save = SaveReport{};
        save.status = SaveStatus::failed;
        save.reason = failureText(nullptr);
    }
    // The words are made of short texts; should even they fail, the next
    // autosave tells again.
    try {
        echoIfAny(instance, saveNotice(save));
        const std::string text = saveAuditText(save);
        if (!text.empty()) auditLog(bot, "save", noFreq, text);
    } catch (...) {
    }
}

void handleTick(BotInstance& instance, PluginState& state) {
    auditLogTick();
    --instance.expiryCountdown;
    --instance.autoSaveCountdown;
    // Each countdown is re-armed before its work, so that no failure in the
    // work can stop the timer.
    if (instance.expiryCountdown == 0) {
        instance.expiryCountdown = ticksPerInviteAgeing;
        expireInvites(state.registry, instance.config.inviteExpireSeconds);
    }
    if (instance.autoSaveCountdown == 0) {
        instance.autoSaveCountdown = instance.config.autoSaveDelay;
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
    if (int64_t now = 0; wallClock(now)) record->lastUsed = int32_t(now);
    if (fieldOf(record->welcome).empty()) return;
    Text welcome = expandWelcome(*record, *player, freq);
    sendPrivate(instance, *player, welcome.data);
}

} // namespace

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
        instance.settings = reinterpret_cast<const ArenaSettingsRecord*>(event.slot[0]);
        break;
    case ArenaLeave:
        break;
    case PlayerFreqChange:
        handleFreqChange(instance, registry, reinterpret_cast<const PlayerRecord*>(event.slot[0]));
        break;
    case Command:
        handleCommand(instance, registry, reinterpret_cast<const PlayerRecord*>(event.slot[0]),
                      reinterpret_cast<const CommandRecord*>(event.slot[1]), &state.store);
        break;
    case HelpRequest:
        handleHelp(instance, registry, reinterpret_cast<const PlayerRecord*>(event.slot[0]),
                   reinterpret_cast<const CommandRecord*>(event.slot[1]));
        break;
    default:
        break;
    }
}
