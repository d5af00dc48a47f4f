// The side files a host leaves beside the registry when it may not write
// over it (Zandrel.teams.unsaved, .unsaved.<pid> of older versions,
// .unsaved.<YYYYMMDD-HHMMSS>-<pid>[.N] now), and what becomes of them once
// "teams recover" has merged them: Zandrel.teams.recovered.<same suffix>.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

extern const char recoveredFileName[];

// Whether a name in the registry's folder is a side file: never a temporary
// of one being written, never one already recovered.
bool isSideFileName(std::string_view name);

// A side file's place in time: the run's start stamp from its name
// ("YYYYMMDD-HHMMSS"; empty for the older names, which sort first) and the
// number after a taken name. Later runs sort after earlier ones.
struct SideFileOrder {
    std::string stamp;
    uint64_t n = 0;
    std::string name;
};
SideFileOrder sideFileOrderOf(const std::string& name);

// The side files in a folder, oldest run first.
std::vector<std::string> sideFilesIn(const Folder& folder);

// The name a recovered side file is set aside under: its own suffix after
// "recovered" instead of "unsaved".
std::string recoveredNameOf(const std::string& sideFile);

// What a host says at every connection while side files wait (empty for
// none): how many, and what to run once it is stopped.
std::string sideFilesNotice(size_t count);
