#include "commands/dispatch.h"
#include "registry/audit_log.h"

std::string undoSnapshot(const CommandContext& context, const char* kind) {
    if (!context.store) return {};
    const SnapshotReport snapshot =
        writeSnapshot(*context.store, context.registry, kind, context.instance.iniConfig.backups);
    const std::string command = std::string("!") + kind;
    if (snapshot.written) {
        // Made, but not as surely as it should be: the operator hears it.
        const std::string notice = snapshotNotice(snapshot, command.c_str());
        if (!notice.empty()) {
            echo(context.instance, notice.c_str());
            audit(context, command.c_str(), noFreq, snapshot.problem);
        }
        return snapshot.name;
    }
    const std::string notice = snapshotNotice(snapshot, command.c_str());
    reply(context, notice.c_str());
    echo(context.instance, notice.c_str());
    audit(context, command.c_str(), noFreq,
          "no undo snapshot could be written (" + snapshot.reason + ")");
    return {};
}
