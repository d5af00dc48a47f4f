// The JSON form of a registry: every byte of every record, reversibly.
//
//   {"format": "hadrok-teams", "version": 1, "records": [ {...}, ... ]}
//
// Each record holds freq, owner, welcome, allowedSquad, freqName, passwordHash,
// lastUsed, lastUsedLocal and padding. A text field is a string of the field's
// bytes less its trailing zero bytes, one code point U+0000 to U+00FF per byte;
// lastUsedLocal is for people only and is ignored when read back.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "registry/freq_record.h"

// The JSON document of text, read without ever recursing into its nesting.
// Throws ToolFailure, as one line beginning with name, for text that is not
// JSON, a key given twice in one object, nesting deeper than the form has any
// use for, or a number the library cannot hold; each names the record and
// field where it was met.
nlohmann::json parseRegistryDocument(const std::string& text, const std::string& name);

nlohmann::ordered_json registryToJson(const std::vector<FreqRecord>& records, int64_t now);

// The records of a JSON document in that form. Throws ToolFailure naming the
// record (index and freq) and the field at the first thing that can't be
// stored exactly.
std::vector<FreqRecord> registryFromJson(const nlohmann::json& document);
