// The fake platform layer: fake_platform.cpp defines everything platform.h
// declares, over one directory held in memory and the clocks of fake_clock.cpp,
// so that a program linking it (the fuzz targets) never touches the disk and
// never waits for a flush. It keeps the real layer's contracts: a replace is
// atomic, a move that must not replace refuses a taken name, the registry's
// lock is held once, and a file removed or renamed while open stays what the
// open handle sees.
#pragma once

#include <string>
#include <string_view>

// The current directory's full name; a path is a bare name, "./" and this
// followed by a slash before it. Nothing else exists.
extern const char fakeDirectory[];

// Every file gone and every lock dropped, as in a fresh empty directory.
void clearFakeFiles();
void setFakeFile(std::string_view name, std::string_view bytes);
// The file's bytes, or nullptr when there is no file of that name.
const std::string* fakeFile(std::string_view name);

// Faults to inject: the next `count` safe writes throw std::bad_alloc, as an
// allocation that fails inside a save would; while on, asking for the current
// directory throws it too, as at a start that fails early.
void throwOnNextWrites(int count);
void throwOnCurrentDirectory(bool on);
