// How far apart two words are, for "did you mean" hints: the fewest single
// letters to insert, remove or change to turn one into the other.
#pragma once

#include <cstddef>
#include <string>

size_t editDistance(const std::string& a, const std::string& b);
