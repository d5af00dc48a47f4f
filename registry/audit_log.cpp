#include "registry/audit_log.h"

#include <cstdio>

#include "platform/platform.h"
#include "text/ascii.h"
#include "text/number.h"

const char auditLogFileName[] = "hadrok.log";

namespace {

void appendNumber(Text& line, int32_t value, uint16_t width) {
    line.append(numberToText(uint32_t(value), 10, width, true));
}

Text logStamp() {
    Text stamp;
    std::tm local{};
    if (!localTimeOf(currentTime(), local)) return Text("(no time)");
    appendNumber(stamp, local.tm_year + 1900, 4);
    stamp.append("-");
    appendNumber(stamp, local.tm_mon + 1, 2);
    stamp.append("-");
    appendNumber(stamp, local.tm_mday, 2);
    stamp.append(" ");
    appendNumber(stamp, local.tm_hour, 2);
    stamp.append(":");
    appendNumber(stamp, local.tm_min, 2);
    stamp.append(":");
    appendNumber(stamp, local.tm_sec, 2);
    return stamp;
}

Text generationName(int n) {
    Text name(auditLogFileName);
    name.append(".");
    appendNumber(name, n, 0);
    return name;
}

// hadrok.log becomes hadrok.log.1, .1 becomes .2 and so on; the oldest goes.
void rotate() {
    std::remove(generationName(auditLogGenerations).data);
    for (int n = auditLogGenerations - 1; n >= 1; --n)
        std::rename(generationName(n).data, generationName(n + 1).data);
    std::rename(auditLogFileName, generationName(1).data);
}

} // namespace

Text auditQuote(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    Text quoted("\"");
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char escape[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
            quoted.append(escape, 4);
        } else {
            quoted.append(reinterpret_cast<const char*>(&c), 1);
        }
    }
    quoted.append("\"");
    return quoted;
}

void auditLog(const AuditActor& actor, const char* command, int32_t freq, std::string_view change) {
    if (!actor.enabled) return;
    Text line = logStamp();
    line.append(" bot=");
    line.append(numberToText(actor.handle, 10, 0, false));
    if (actor.player) {
        line.append(" player=");
        line.append(auditQuote(fieldText(actor.player->name, playerNameWidth)));
        line.append(" level=");
        line.append(numberToText(actor.player->operatorLevel, 10, 0, false));
    }
    line.append(" ");
    line.append(command);
    if (freq != noFreq) {
        line.append(" freq=");
        appendNumber(line, freq, 0);
    }
    line.append(": ");
    line.append(change);
    line.append("\n");

    std::FILE* file = std::fopen(auditLogFileName, "ab");
    if (!file) return;
    if (std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) >= auditLogRotateBytes) {
        std::fclose(file);
        rotate();
        file = std::fopen(auditLogFileName, "ab");
        if (!file) return;
    }
    std::fwrite(line.data, 1, line.length, file);
    std::fclose(file);
}
