#include "interp/advice.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "host/host.h"

namespace {

constexpr std::size_t kMostEdits = 2;
constexpr std::size_t kShortestMisspelling = 4;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsComment(std::string_view word) {
    return word.starts_with('#') || word.starts_with(';') || word.starts_with("//");
}

// Edits (insert, delete, replace) from one word to the other, letter case
// ignored; anything over kMostEdits counts as kMostEdits + 1.
std::size_t EditDistance(std::string_view a, std::string_view b) {
    const std::size_t too_far = kMostEdits + 1;
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > kMostEdits) {
        return too_far;
    }
    std::vector<std::size_t> previous(b.size() + 1);
    std::vector<std::size_t> current(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t replace = previous[j - 1] + (Upper(a[i - 1]) == Upper(b[j - 1]) ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, replace});
        }
        std::swap(previous, current);
    }
    return std::min(previous[b.size()], too_far);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

}  // namespace

std::optional<std::string_view> MeantKeyword(std::string_view word,
                                             std::span<const char* const> keywords) {
    if (word.empty() || IsComment(word)) return std::nullopt;
    const std::size_t last = word.find_last_not_of(" \t");
    if (last != std::string_view::npos && last + 1 < word.size()) {
        const std::string_view trimmed = word.substr(0, last + 1);
        for (const char* keyword : keywords) {
            if (SameIgnoringCase(trimmed, keyword)) return keyword;
        }
    }
    if (word.size() < kShortestMisspelling) return std::nullopt;
    std::optional<std::string_view> nearest;
    std::size_t nearest_distance = kMostEdits + 1;
    for (const char* keyword : keywords) {
        const std::size_t distance = EditDistance(word, keyword);
        if (distance < nearest_distance) {
            nearest = keyword;
            nearest_distance = distance;
        }
    }
    return nearest;
}

void AdviseOnLine(const std::string& script, std::uint32_t line, const std::string& text) {
    host::PrintError("varkel: " + script + ":" + std::to_string(line) + ": " + text + "\n");
}
