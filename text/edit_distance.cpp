#include "text/edit_distance.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "text/ascii.h"

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = char(lowerAscii(static_cast<unsigned char>(c)));
    return result;
}

} // namespace

std::string nearestName(std::string_view name, const std::vector<std::string>& candidates) {
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
