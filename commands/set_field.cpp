#include "commands/command_table.h"
#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/password_hash.h"

namespace {

// What a command that sets a field tells the audit log and the player.
struct FieldChange {
    RepeatKind kind;     // the command's, counted when a player repeats it
    const char* what;    // the audit line: "<what> "old" -> "new"", or "<what> changed"
    bool showsOldAndNew; // not for a password, nor for the long welcome text
    const char* reply;
};

void tell(const CommandContext& context, const FieldChange& change, std::string_view before,
          std::string_view after) {
    const int32_t freq = context.record->freq;
    if (change.showsOldAndNew) {
        auditRepeat(context, change.kind, freq, changedFromTo(change.what, before, after).view(),
                    after);
    } else {
        Text line(change.what);
        line.append(" changed");
        auditRepeat(context, change.kind, freq, line.view());
    }
    reply(context, change.reply);
}

// A text field takes the rest as typed, cut to the field's width.
template <size_t Width>
void setText(const CommandContext& context, const FieldChange& change, char (&field)[Width]) {
    const Text before(fieldOf(field));
    setTextField(field, context.typed.rest.view());
    tell(context, change, before.view(), fieldOf(field));
}

} // namespace

void handleSetField(const CommandContext& context) {
    if (!context.row || !context.record) return;
    FreqRecord& record = *context.record;
    markChanged(context.registry, record.freq);
    switch (context.row->sets) {
    case RecordField::FreqName:
        return setText(context, {RepeatKind::name, "name", true, replies::nameChanged},
                       record.freqName);
    case RecordField::AllowedSquad:
        return setText(context, {RepeatKind::squad, "squad", true, replies::squadChanged},
                       record.allowedSquad);
    case RecordField::Welcome:
        return setText(context, {RepeatKind::welcome, "welcome", false, replies::welcomeChanged},
                       record.welcome);
    case RecordField::Password: {
        const Text& password = context.typed.rest;
        record.passwordHash = hashPassword(password.data, password.length);
        return tell(context, {RepeatKind::password, "password", false, replies::passwordChanged},
                    {}, {});
    }
    case RecordField::None:
        break;
    }
}
