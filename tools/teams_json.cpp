#include "tools/teams_json.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "tools/teams_file.h"
#include "tools/teams_text.h"

namespace {

constexpr const char* formatName = "hadrok-teams";
constexpr int formatVersion = 1;

template <size_t Width> std::string textValue(const char (&field)[Width]) {
    return latin1ToUtf8(storedBytes(field));
}

// A JSON value shown in a message, cut so that one bad value can't flood it.
std::string shown(const nlohmann::json& value) {
    std::string text = value.dump(-1, ' ', true);
    return text.size() <= 40 ? text : text.substr(0, 37) + "...";
}

// The value when it is a whole number, however JSON spelled it; floats and
// anything else give none.
std::optional<int64_t> integerOf(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        auto n = value.get<uint64_t>();
        return n <= uint64_t(INT64_MAX) ? std::optional<int64_t>(int64_t(n)) : std::nullopt;
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    return std::nullopt;
}

// Reads the fields of one record, naming it in every complaint.
struct RecordReader {
    const nlohmann::json& object;
    size_t index;
    std::optional<uint16_t> freq;

    [[noreturn]] void fail(std::string_view field, const std::string& problem) const {
        std::string which = recordLabel(index, freq);
        if (field.empty()) throw ToolFailure(fmt::format("{}: {}", which, problem));
        throw ToolFailure(fmt::format("{}, field \"{}\": {}", which, field, problem));
    }

    int64_t integer(const char* field, int64_t low, int64_t high) const {
        auto found = object.find(field);
        if (found == object.end()) fail(field, "missing");
        std::optional<int64_t> n = integerOf(*found);
        if (!n || *n < low || *n > high)
            fail(field,
                 fmt::format("{} is not a whole number from {} to {}", shown(*found), low, high));
        return *n;
    }

    // An absent text field is empty.
    template <size_t Width> void text(const char* field, char (&target)[Width]) const {
        std::fill(target, target + Width, 0);
        auto found = object.find(field);
        if (found == object.end()) return;
        if (!found->is_string()) fail(field, fmt::format("{} is not a string", shown(*found)));
        uint32_t offending = 0;
        std::optional<std::string> bytes =
            utf8ToLatin1(found->get_ref<const std::string&>(), offending);
        if (!bytes && offending == 0xFFFFFFFFu) fail(field, "not valid UTF-8");
        if (!bytes)
            fail(field, fmt::format("character U+{:04X} is not one byte: only U+0000 to U+00FF "
                                    "can be stored",
                                    offending));
        if (bytes->size() > Width)
            fail(field, fmt::format("{} characters, but the field holds {}", bytes->size(), Width));
        std::copy(bytes->begin(), bytes->end(), target);
    }

    // Absent padding is zero, as in a record the plug-in creates.
    void padding(uint8_t (&target)[2]) const {
        target[0] = target[1] = 0;
        auto found = object.find("padding");
        if (found == object.end()) return;
        if (!found->is_array() || found->size() != 2)
            fail("padding", fmt::format("{} is not a list of two bytes", shown(*found)));
        for (size_t i = 0; i < 2; ++i) {
            std::optional<int64_t> n = integerOf((*found)[i]);
            if (!n || *n < 0 || *n > 255)
                fail("padding",
                     fmt::format("{} is not a byte value from 0 to 255", shown((*found)[i])));
            target[i] = static_cast<uint8_t>(*n);
        }
    }
};

FreqRecord recordFromJson(const nlohmann::json& object, size_t index) {
    RecordReader reader{object, index, std::nullopt};
    if (!object.is_object()) reader.fail("", fmt::format("{} is not an object", shown(object)));
    FreqRecord record{};
    record.freq = static_cast<uint16_t>(reader.integer("freq", 0, 65535));
    reader.freq = record.freq;
    static constexpr std::string_view known[] = {"freq",         "owner",         "welcome",
                                                 "allowedSquad", "freqName",      "passwordHash",
                                                 "lastUsed",     "lastUsedLocal", "padding"};
    for (auto& [key, value] : object.items()) {
        bool isKnown = false;
        for (std::string_view name : known)
            isKnown = isKnown || key == name;
        if (!isKnown) reader.fail("", fmt::format("unknown field \"{}\"", escapedBytes(key)));
    }
    if (object.find("owner") == object.end()) reader.fail("owner", "missing");
    reader.text("owner", record.owner);
    reader.text("welcome", record.welcome);
    reader.text("allowedSquad", record.allowedSquad);
    reader.text("freqName", record.freqName);
    record.passwordHash = static_cast<uint32_t>(reader.integer("passwordHash", 0, UINT32_MAX));
    record.lastUsed = static_cast<int32_t>(reader.integer("lastUsed", INT32_MIN, INT32_MAX));
    reader.padding(record.padding);
    return record;
}

// The deepest nesting the form uses is 4 (document, records, record, padding);
// anything much deeper is refused before it is built, so that no recursive
// step (a message, a comparison, a copy) can ever meet it.
constexpr size_t deepestNesting = 8;

// Where the parser is, told by its events: the open objects and lists, the
// last key of each object and the count of finished elements of each list.
struct ParseTracker {
    struct Level {
        bool object;
        std::set<std::string> keys;
        std::string key;
        size_t count = 0;
        std::optional<int64_t> freq; // a record's freq, once read
    };
    std::vector<Level> levels;

    bool inRecords() const {
        return levels.size() >= 2 && levels[0].object && levels[0].key == "records" &&
               !levels[1].object;
    }

    // "record 2 (freq 151), field "owner"", "field "records"" or "the document".
    std::string position() const {
        if (inRecords() && levels.size() >= 3) {
            const Level& record = levels[2];
            std::string which = recordLabel(levels[1].count, record.freq);
            if (record.object && !record.key.empty())
                return fmt::format("{}, field \"{}\"", which, escapedBytes(record.key));
            return which;
        }
        if (inRecords()) return recordLabel(levels[1].count, std::nullopt);
        if (!levels.empty() && levels[0].object && !levels[0].key.empty())
            return fmt::format("field \"{}\"", escapedBytes(levels[0].key));
        return "the document";
    }

    bool onEvent(int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using Event = nlohmann::json::parse_event_t;
        switch (event) {
        case Event::object_start:
        case Event::array_start:
            if (levels.size() >= deepestNesting)
                throw ToolFailure(fmt::format("{}: lists and objects nested more than {} deep are "
                                              "refused",
                                              position(), deepestNesting));
            levels.push_back(Level{event == Event::object_start, {}, {}, 0, std::nullopt});
            break;
        case Event::key: {
            Level& top = levels.back();
            top.key = parsed.get<std::string>();
            if (!top.keys.insert(top.key).second)
                throw ToolFailure(
                    fmt::format("{}: given more than once (a misspelt copy, or a value "
                                "that would silently replace the first)",
                                position()));
            break;
        }
        case Event::object_end:
        case Event::array_end:
            levels.pop_back();
            if (!levels.empty() && !levels.back().object) ++levels.back().count;
            break;
        case Event::value:
            if (levels.size() == 3 && inRecords() && levels[2].key == "freq")
                levels[2].freq = integerOf(parsed);
            if (!levels.empty() && !levels.back().object) ++levels.back().count;
            break;
        }
        return true;
    }
};

// A library message without its "[json.exception.parse_error.101] " tag,
// escaped: it quotes the bytes it stopped at, which need not be text.
std::string libraryProblem(const nlohmann::json::exception& e) {
    std::string_view message = e.what();
    if (message.starts_with("[") && message.find("] ") != std::string_view::npos)
        message.remove_prefix(message.find("] ") + 2);
    return escapedBytes(message);
}

} // namespace

nlohmann::json parseRegistryDocument(const std::string& text, const std::string& name) {
    ParseTracker tracker;
    try {
        return nlohmann::json::parse(
            text, [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
                return tracker.onEvent(depth, event, parsed);
            });
    } catch (const ToolFailure& e) {
        throw ToolFailure(fmt::format("{}: {}", name, e.what()));
    } catch (const nlohmann::json::parse_error& e) {
        throw ToolFailure(fmt::format("{} is not valid JSON: {}", name, libraryProblem(e)));
    } catch (const nlohmann::json::exception& e) {
        throw ToolFailure(fmt::format("{}: {}: {}", name, tracker.position(), libraryProblem(e)));
    }
}

nlohmann::ordered_json registryToJson(const std::vector<FreqRecord>& records, int64_t now) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FreqRecord& r : records) {
        nlohmann::ordered_json record;
        record["freq"] = r.freq;
        record["owner"] = textValue(r.owner);
        record["welcome"] = textValue(r.welcome);
        record["allowedSquad"] = textValue(r.allowedSquad);
        record["freqName"] = textValue(r.freqName);
        record["passwordHash"] = r.passwordHash;
        record["lastUsed"] = r.lastUsed;
        record["lastUsedLocal"] = lastUsedText(r.lastUsed, now);
        record["padding"] = {r.padding[0], r.padding[1]};
        list.push_back(std::move(record));
    }
    nlohmann::ordered_json document;
    document["format"] = formatName;
    document["version"] = formatVersion;
    document["records"] = std::move(list);
    return document;
}

std::vector<FreqRecord> registryFromJson(const nlohmann::json& document) {
    if (!document.is_object())
        throw ToolFailure("the document is not a JSON object with \"records\"");
    for (auto& [key, value] : document.items()) {
        if (key == "format") {
            if (value != formatName)
                throw ToolFailure(
                    fmt::format("\"format\" is {}, not \"{}\"", shown(value), formatName));
        } else if (key == "version") {
            if (value != formatVersion)
                throw ToolFailure(fmt::format("\"version\" is {}; this program reads version {}",
                                              shown(value), formatVersion));
        } else if (key != "records") {
            throw ToolFailure(fmt::format("unknown top-level field \"{}\"", escapedBytes(key)));
        }
    }
    auto found = document.find("records");
    if (found == document.end() || !found->is_array())
        throw ToolFailure("\"records\" is missing or not a list");
    std::vector<FreqRecord> records;
    records.reserve(found->size());
    for (size_t i = 0; i < found->size(); ++i)
        records.push_back(recordFromJson((*found)[i], i));
    return records;
}
