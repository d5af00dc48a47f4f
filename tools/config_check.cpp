// hadrok config check: freqs.ini read exactly as the plug-in reads it, each
// setting with the value the plug-in will use and what that means, and every
// line of the file that the plug-in ignores or takes otherwise than it seems.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cli/edit_distance.h"
#include "platform/platform.h"
#include "platform/profile_reader.h"
#include "registry/plugin_config.h"
#include "text/ascii.h"
#include "text/encoding.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"

namespace {

constexpr const char* configSection = "Config";
// Up to this many seconds the lifetime fits in the milliseconds that the tick
// counter can tell apart; beyond it an invitation outlives every count.
constexpr uint32_t longestInviteSeconds = 4294967;

struct CheckOptions {
    std::string file = "freqs.ini";
};

// What the check says: one line each; a line about something that may
// surprise starts with "! " and counts as a finding.
struct Report {
    std::string out;
    size_t findings = 0;
    void say(const std::string& line) { out += line + "\n"; }
    void find(const std::string& line) {
        out += "! " + line + "\n";
        ++findings;
    }
};

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = char(lowerAscii(static_cast<unsigned char>(c)));
    return result;
}

// The name among candidates that the operator most likely meant: within a
// third of its length in edits, or the start of it; empty when none is close.
std::string nearest(const std::string& name, const std::vector<std::string>& candidates) {
    const std::string wanted = lowered(name);
    std::string best;
    size_t bestDistance = SIZE_MAX;
    for (const std::string& candidate : candidates) {
        const std::string other = lowered(candidate);
        size_t distance = editDistance(wanted, other);
        bool close = distance <= std::max<size_t>(2, other.size() / 3) ||
                     (wanted.size() >= 4 && other.starts_with(wanted)) ||
                     (other.size() >= 4 && wanted.starts_with(other));
        if (close && distance < bestDistance) bestDistance = distance, best = candidate;
    }
    return best;
}

std::string shownText(std::string_view text) {
    return escapedBytes(text, {.inQuotes = true});
}

std::vector<std::string> keyNames(const std::vector<ConfigSetting>& settings) {
    std::vector<std::string> names;
    for (const ConfigSetting& s : settings)
        names.push_back(s.key);
    return names;
}

bool isComment(const std::string& name) {
    return !name.empty() && (name[0] == ';' || name[0] == '#');
}

// Where the plug-in finds each key: the first [Config] section and in it the
// first line of the key (a line without '=' included); null when absent.
struct Layout {
    bool hasSection = false;
    std::vector<const ProfileLine*> lineOf; // by setting
};

Layout checkLines(const std::vector<ProfileLine>& lines, const std::vector<ConfigSetting>& settings,
                  Report& report) {
    Layout layout;
    layout.lineOf.assign(settings.size(), nullptr);
    const std::vector<std::string> keys = keyNames(settings);
    enum { before, inConfig, afterConfig } where = before;
    bool inOther = false;
    uint32_t configLine = 0;
    for (const ProfileLine& line : lines) {
        if (line.kind == ProfileLine::unclosed) {
            report.find(fmt::format("line {}: {} has no ']', so it opens no section and is "
                                    "ignored",
                                    line.number, shownText(line.name)));
            continue;
        }
        if (line.kind == ProfileLine::section) {
            if (equalsNoCase(line.name, configSection)) {
                if (where == before) {
                    where = inConfig;
                    inOther = false;
                    configLine = line.number;
                    layout.hasSection = true;
                    continue;
                }
                report.find(fmt::format("line {}: a second [{}] section; the plug-in reads only "
                                        "the first one (line {}) and nothing below this line",
                                        line.number, line.name, configLine));
            } else {
                std::string near = nearest(line.name, {configSection});
                report.find(fmt::format("line {}: [{}] is a section the plug-in does not read ({})",
                                        line.number, escapedBytes(line.name),
                                        near.empty() ? "it reads only [Config]"
                                                     : "did you mean [Config]?"));
            }
            if (where == inConfig) where = afterConfig;
            inOther = true;
            continue;
        }
        // A key line.
        if (isComment(line.name) || inOther || where == afterConfig) continue;
        if (where == before) {
            report.find(fmt::format("line {}: {} comes before any section; the plug-in reads "
                                    "only the keys of [Config]",
                                    line.number, shownText(line.name)));
            continue;
        }
        auto known = std::find_if(keys.begin(), keys.end(), [&](const std::string& key) {
            return equalsNoCase(line.name, key);
        });
        if (known == keys.end()) {
            std::string near = nearest(line.name, keys);
            report.find(fmt::format("line {}: {} is not a setting the plug-in reads ({})",
                                    line.number, shownText(line.name),
                                    near.empty()
                                        ? "it reads " + fmt::format("{}", fmt::join(keys, ", "))
                                        : "did you mean " + near + "?"));
            continue;
        }
        const ProfileLine*& first = layout.lineOf[size_t(known - keys.begin())];
        if (first) {
            report.find(fmt::format("line {}: {} again; the plug-in uses only line {}", line.number,
                                    *known, first->number));
            continue;
        }
        first = &line;
        if (!line.hasValue)
            report.find(
                fmt::format("line {}: {} without '=': the default is used", line.number, *known));
    }
    return layout;
}

// The magnitude a numeric text stands for, when it fits in 64 bits; a text of
// more digits saturates, which is just as far out of range.
uint64_t magnitudeOf(std::string_view numeric) {
    if (numeric.starts_with('-')) numeric.remove_prefix(1);
    uint64_t value = 0;
    const auto read = std::from_chars(numeric.data(), numeric.data() + numeric.size(), value);
    return read.ec == std::errc::result_out_of_range ? UINT64_MAX : value;
}

std::string plural(uint64_t n, const char* one, const char* many) {
    return fmt::format("{} {}", n, n == 1 ? one : many);
}

struct Meaning {
    std::string text;
    bool surprising = false;
};

// What the value means to players and to the operator, in the plug-in's terms.
Meaning meaningOf(const ConfigSetting& s, const std::vector<ConfigSetting>& all) {
    const uint32_t v = s.value;
    const auto shown = int32_t(v); // how the replies print it
    const std::string key = s.key;
    if (key == "MaxOwnedFreqs") {
        if (v == 0)
            return {"nobody may register a freq or be handed one; players read \"You can "
                    "register a maximum of 0 freqs\"",
                    true};
        if (shown < 0)
            return {fmt::format("no limit; players read \"You can register a maximum of {} "
                                "freqs\"",
                                shown),
                    true};
        if (v > 65535) return {"no limit in practice (there are fewer freq numbers)"};
        return {"a player may own up to " + plural(v, "freq", "freqs") +
                " (registered with !freg or handed over with !fgrant)"};
    }
    if (key == "InviteExpireSeconds") {
        if (v == 0)
            return {"an invitation lasts only until the next expiry pass (every fifth tick); "
                    "players read \"You have 0 seconds to join the freq\"",
                    true};
        if (v > longestInviteSeconds)
            return {shown < 0 ? fmt::format("invitations never expire while the plug-in is "
                                            "loaded; players read \"You have {} seconds to join "
                                            "the freq\"",
                                            shown)
                              : "invitations never expire while the plug-in is loaded",
                    true};
        return {"an invitation (!fjoin, !finv) lets its player join for " +
                plural(v, "second", "seconds") +
                "; it ends at the first expiry pass after that, and the plug-in makes one every "
                "fifth tick"};
    }
    if (key == "AutoSaveDelay") {
        if (v == 0)
            return {"the registry is saved only when the plug-in is unloaded; a crash loses "
                    "every change since the load",
                    true};
        if (shown < 0)
            return {fmt::format("the first autosave comes after {} ticks, so in practice the "
                                "registry is saved only when the plug-in is unloaded; a crash "
                                "loses every change since the load",
                                v),
                    true};
        return {"the registry is saved every " + plural(v, "tick", "ticks") +
                " and when the plug-in is unloaded; how long a tick is, is the host's choice"};
    }
    if (key == "AuditLog") {
        if (v == 0) return {"no audit log: changes of the registry are not written to hadrok.log"};
        return {"every change of the registry is written to hadrok.log", shown < 0};
    }
    if (key == "Backups") {
        if (v == 0)
            return {"no dated backups; every undo snapshot (before-freqreset, before-freqkill, "
                    "before-expiry) is kept, none removed"};
        return {"the newest " + plural(v, "dated backup", "dated backups") +
                    " (Zandrel.teams.YYYY-MM-DD) are kept, and the newest " +
                    plural(v, "undo snapshot", "undo snapshots") + " of each kind",
                shown < 0};
    }
    if (key == "ExpireUnusedDays") {
        if (v == 0) return {"freqs never expire for lack of use"};
        if (shown < 0)
            return {fmt::format("freqs unused for more than {} days expire: in practice never", v),
                    true};
        bool noAutosave = std::any_of(all.begin(), all.end(), [](const ConfigSetting& o) {
            return std::string(o.key) == "AutoSaveDelay" && (o.value == 0 || int32_t(o.value) < 0);
        });
        return {"freqs unused for more than " + plural(v, "day", "days") +
                " are unregistered, after a before-expiry snapshot, when the plug-in is loaded" +
                (noAutosave ? " (with no autosave, only then)" : " and at each autosave")};
    }
    return {};
}

void checkSetting(const ConfigSetting& s, const ProfileLine* line,
                  const std::vector<ConfigSetting>& all, Report& report) {
    const std::string where = line ? fmt::format(" (line {})", line->number) : "";
    if (!s.numeric) {
        std::string text = fmt::format(
            "{}{}: {} is not a whole number, so {} is used; the host's window shows \"{}\"", s.key,
            where, s.text.empty() ? std::string("an empty value") : shownText(s.text), s.value,
            s.errorLine);
        if (s.text.find_first_of(";#") != std::string::npos)
            text += " (a comment after a value is part of it: put comments on lines of their own)";
        report.find(text);
    } else {
        // Written values the plug-in takes otherwise than they read.
        const std::string written = line ? line->value : s.text;
        if (written.size() > s.text.size())
            report.find(fmt::format("{}{}: only the first {} characters of {} are read: {}", s.key,
                                    where, s.text.size(), shownText(written), shownText(s.text)));
        const bool negative = s.text[0] == '-';
        const uint64_t magnitude = magnitudeOf(s.text);
        if (!negative && magnitude > UINT32_MAX)
            report.find(fmt::format("{}{}: {} is more than 4294967295 and wraps to {}", s.key,
                                    where, s.text, s.value));
        else if (negative && magnitude != 0)
            report.find(fmt::format("{}{}: {} is read as the unsigned number {}", s.key, where,
                                    s.text, s.value));
    }
    const Meaning meaning = meaningOf(s, all);
    const std::string line_ = fmt::format("{}={}: {}{}", s.key, s.value, meaning.text,
                                          line ? "" : " (not in the file: the default)");
    if (meaning.surprising)
        report.find(line_);
    else
        report.say(line_);
}

Report checked(const CheckOptions& options) {
    Report report;
    std::error_code error;
    const bool exists = std::filesystem::exists(options.file, error);
    std::string bytes;
    std::vector<ProfileLine> lines;
    if (exists) {
        bytes = readSettingsFile(options.file);
        // Where the plug-in's reader on this system stops.
        if (bytes.size() > profileReadLimit()) {
            report.find(fmt::format("{}: {} bytes; the plug-in reads only the first {}",
                                    options.file, bytes.size(), profileReadLimit()));
            bytes.resize(profileReadLimit());
        }
        lines = profileLines(bytes.data(), bytes.size());
        const TextEncoding encoding = guessEncoding(bytes);
        // The reader takes UTF-16 with its byte order mark, and a code page
        // touches only comments; but other tools and editors may not.
        if (encoding != TextEncoding::utf8) report.say(saveAsUtf8Advice(options.file, encoding));
    } else {
        report.find(options.file + ": no such file; the plug-in uses every default");
    }

    // The values come from the profile reader the plug-in uses on this system,
    // given a full path as the system's reader needs.
    const std::string path = std::filesystem::absolute(options.file, error).string();
    const std::vector<ConfigSetting> settings =
        readConfigSettings(exists && !error ? path.c_str() : nullptr);

    Layout layout = checkLines(lines, settings, report);
    if (exists && !layout.hasSection)
        report.find("no [Config] section: every setting has its default");
    for (size_t i = 0; i < settings.size(); ++i)
        checkSetting(settings[i], layout.lineOf[i], settings, report);

    report.say(report.findings == 0
                   ? options.file + ": every setting is read as written; nothing surprising"
                   : fmt::format("{}: {} (the lines starting with \"!\")", options.file,
                                 plural(report.findings, "finding", "findings")));
    return report;
}

int check(const CheckOptions& options) {
    const Report report = checked(options);
    writeStandardOutput(report.out);
    return report.findings == 0 ? 0 : 1;
}

} // namespace

size_t configFindingsOf(const std::string& file) {
    return checked(CheckOptions{.file = file}).findings;
}

void addConfigCommands(CLI::App& app) {
    CLI::App* config =
        app.add_subcommand("config", "Check the plug-in's settings file (freqs.ini)");
    config->require_subcommand(1);
    auto options = std::make_shared<CheckOptions>();
    CLI::App* command = config->add_subcommand(
        "check", "Show each setting of freqs.ini as the plug-in will use it and what it means, "
                 "and what in the file it ignores; exit status 0 nothing surprising, 1 findings, "
                 "2 unreadable");
    command->add_option("file", options->file, "the settings file")->capture_default_str();
    command->callback(
        [options] { runOperatorTool("config check", [&] { return check(*options); }); });
}
