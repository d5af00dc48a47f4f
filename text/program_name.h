// The operator's program as he types it on this system: every message that
// points him to one of its commands names it so.
#pragma once

#ifdef _WIN32
constexpr const char* programFileName = "hadrok.exe";
#else
constexpr const char* programFileName = "hadrok";
#endif
