// How far apart two words are, for "did you mean" hints: the fewest single
// letters to insert, remove or change to turn one into the other.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

size_t editDistance(const std::string& a, const std::string& b);

// The name among candidates that was most likely meant, ignoring the case of
// letters: within a third of its length in edits (at least two), or the start
// of it; empty when none is close.
std::string nearestName(std::string_view name, const std::vector<std::string>& candidates);
