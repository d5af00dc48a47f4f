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

#include "platform/platform.h"
#include "platform/profile_reader.h"
#include "registry/config_keys.h"
#include "registry/plugin_config.h"
#include "registry/registry_file.h"
#include "text/ascii.h"
#include "text/edit_distance.h"
#include "text/encoding.h"
#include "tools/file_kind.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

constexpr const char* configSection = "Config";

struct CheckOptions {
    std::string file = "freqs.ini";
};

// What the check says: one line each; a line about something that may
// surprise starts with "! " and counts as a finding.
struct Report {
    std::string out;
    size_t findings = 0;
    bool missing = false; // no file to check: the defaults are shown, status 2
    void say(const std::string& line) { out += line + "\n"; }
    void find(const std::string& line) {
        out += "! " + line + "\n";
        ++findings;
    }
};

std::string shownText(std::string_view text) {
    return escapedBytes(text, {.inQuotes = true});
}

std::vector<std::string> keyNames(const std::vector<ConfigSetting>& settings) {
    std::vector<std::string> names;
    for (const ConfigSetting& s : settings)
        names.push_back(s.row.key);
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
                std::string near = nearestName(line.name, {configSection});
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
            std::string near = nearestName(line.name, keys);
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

void checkSetting(const ConfigSetting& s, const ProfileLine* line, const PluginConfig& all,
                  Report& report) {
    const std::string where = line ? fmt::format(" (line {})", line->number) : "";
    if (!s.numeric) {
        std::string text = fmt::format(
            "{}{}: {} is not a whole number, so {} is used; the host's window shows \"{}\"",
            s.row.key, where, s.text.empty() ? std::string("an empty value") : shownText(s.text),
            s.value, s.row.errorLine);
        if (s.text.find_first_of(";#") != std::string::npos)
            text += " (a comment after a value is part of it: put comments on lines of their own)";
        report.find(text);
    } else {
        // Written values the plug-in takes otherwise than they read.
        const std::string written = line ? line->value : s.text;
        if (written.size() > s.text.size())
            report.find(fmt::format("{}{}: only the first {} characters of {} are read: {}",
                                    s.row.key, where, s.text.size(), shownText(written),
                                    shownText(s.text)));
        const bool negative = s.text[0] == '-';
        const uint64_t magnitude = magnitudeOf(s.text);
        if (!negative && magnitude > UINT32_MAX)
            report.find(fmt::format("{}{}: {} is more than 4294967295 and wraps to {}", s.row.key,
                                    where, s.text, s.value));
        else if (negative && magnitude != 0)
            report.find(fmt::format("{}{}: {} is read as the unsigned number {}", s.row.key, where,
                                    s.text, s.value));
    }
    const SettingMeaning meaning = s.row.meaning(s.value, all);
    const std::string line_ = fmt::format("{}={}: {}{}", s.row.key, s.value, meaning.text,
                                          line ? "" : " (not in the file: the default)");
    if (meaning.surprising)
        report.find(line_);
    else
        report.say(line_);
}

// A file another command reads (the registry, an export, the log, the lock)
// gets that command named rather than a table of settings it never holds. A
// file named *.ini is always checked as settings: a UTF-16 one without its
// byte order mark looks like records, and a mangled section like JSON.
void refuseOtherKinds(const std::string& file, const std::string& bytes) {
    // A file named as settings is checked as settings, however odd its lines.
    const std::string name = fileNameOf(file);
    if (name.size() >= 4 && equalsNoCase(std::string_view(name).substr(name.size() - 4), ".ini"))
        return;
    const FileKind kind = fileKindOf(file, bytes);
    const bool records =
        holdsRecords(kind) && !bytes.empty() && fileNameOf(file).starts_with(registryFileName);
    if (records || kind == FileKind::jsonExport || kind == FileKind::csvExport ||
        kind == FileKind::auditLog || kind == FileKind::lockFile)
        throw ToolFailure(wrongKindMessage(file, kind, "a settings file"));
}

Report checked(const CheckOptions& options) {
    Report report;
    std::error_code error;
    const bool exists = std::filesystem::exists(options.file, error);
    std::string bytes;
    std::vector<ProfileLine> lines;
    if (exists) {
        bytes = readSettingsFile(options.file);
        refuseOtherKinds(options.file, bytes);
        // Where the plug-in's reader on this system stops.
        if (bytes.size() > profileReadLimit()) {
            report.find(fmt::format("{}: {} bytes; the plug-in reads only the first {}",
                                    options.file, bytes.size(), profileReadLimit()));
            bytes.resize(profileReadLimit());
        }
        lines = profileLines(bytes.data(), bytes.size());
        const TextEncoding encoding = guessEncoding(bytes);
        // The reader takes UTF-16 with its byte order mark, and a code page
        // touches only comments; but other tools and editors may not, so it
        // is a finding.
        if (encoding != TextEncoding::utf8) report.find(saveAsUtf8Advice(options.file, encoding));
    } else {
        report.missing = true;
        report.find(options.file + ": the file is missing; the plug-in uses every default, "
                                   "shown below");
    }

    // The values come from the profile reader the plug-in uses on this system,
    // given a full path as the system's reader needs.
    const std::string path = std::filesystem::absolute(options.file, error).string();
    const std::vector<ConfigSetting> settings =
        readConfigSettings(exists && !error ? path.c_str() : nullptr);

    Layout layout = checkLines(lines, settings, report);
    if (exists && !layout.hasSection)
        report.find("no [Config] section: every setting has its default");
    PluginConfig values;
    for (const ConfigSetting& s : settings)
        values.*s.row.field = s.value;
    for (size_t i = 0; i < settings.size(); ++i)
        checkSetting(settings[i], layout.lineOf[i], values, report);

    if (report.missing)
        report.say(options.file + ": missing, so the defaults above apply");
    else
        report.say(report.findings == 0
                       ? options.file + ": every setting is read as written; nothing surprising"
                       : fmt::format("{}: {} (the lines starting with \"!\")", options.file,
                                     plural(report.findings, "finding", "findings")));
    return report;
}

int check(const CheckOptions& options) {
    const Report report = checked(options);
    writeStandardOutput(report.out);
    if (report.missing) return 2;
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
                 "2 missing or unreadable");
    command->add_option("file", options->file, "the settings file")->capture_default_str();
    command->callback(
        [options] { runOperatorTool("config check", [&] { return check(*options); }); });
}
