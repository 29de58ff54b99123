#include "script/word_separator.h"

#include <algorithm>
#include <cstring>

char cons = '"';
char cone = '"';
char delimeters[kDelimeterCount] = {'\n', '=', '=', '(', ',', ')'};
std::int32_t delim_cur = kDelimeterCount;
std::string memory_string[kWordSlots];

namespace {


bool IsDelimeter(char c) {
    const std::int32_t in_force = std::clamp(delim_cur, 0, kDelimeterCount);
    return std::find(delimeters, delimeters + in_force, c) != delimeters + in_force;
}

bool ValidSlot(std::int32_t slot) { return slot >= 0 && slot < kWordSlots; }

}  // namespace

std::int32_t seperate_words(std::string line) {
    for (std::string& slot : memory_string) slot.clear();
    memory_string[0] = line;
    const std::size_t length = std::min(std::strlen(line.c_str()), kMaxSplitLength);
    // The last slot takes whatever a line of more than 255 words has left.
    constexpr std::int32_t kLastSlot = kWordSlots - 1;
    std::int32_t k = 1;
    bool inside_quotes = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = line[i];
        if (c == cons || c == cone) {
            if (inside_quotes || !memory_string[k].empty()) k = std::min(k + 1, kLastSlot);
            inside_quotes = !inside_quotes;
        } else if (!inside_quotes && IsDelimeter(c)) {
            if (!memory_string[k].empty() && k < kLastSlot) memory_string[++k].clear();
        } else {
            memory_string[k] += c;
        }
    }
    return memory_string[k].empty() ? k - 1 : k;
}

std::string get_memory(std::int32_t slot) { return ValidSlot(slot) ? memory_string[slot] : std::string(); }

void set_memory(std::int32_t slot, std::string text) {
    if (ValidSlot(slot)) memory_string[slot] = std::move(text);
}

char get_delimeter(std::int32_t position) {
    return position >= 0 && position < kDelimeterCount ? delimeters[position] : '\0';
}

void set_delimeter(std::int32_t position, char c) {
    if (position >= 0 && position < kDelimeterCount) delimeters[position] = c;
}

void set_delimeter_num(std::int32_t count) { delim_cur = std::clamp(count, 0, kDelimeterCount); }

void default_delimeter_setup() {
    delim_cur = kDelimeterCount;
    const char defaults[kDelimeterCount] = {'\n', ' ', '=', '(', ',', ')'};
    std::copy(defaults, defaults + kDelimeterCount, delimeters);
    cons = '"';
    cone = '"';
}

void ResetWordSeparator() {
    const char startup[kDelimeterCount] = {'\n', '=', '=', '(', ',', ')'};
    std::copy(startup, startup + kDelimeterCount, delimeters);
    delim_cur = kDelimeterCount;
    cons = '"';
    cone = '"';
    for (std::string& slot : memory_string) slot.clear();
}
