// The word separator: splits one script line into numbered word slots.
// Separator characters end a word and are dropped; a pair of double quotes
// groups text that may contain separators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int kWordSlots = 256;
inline constexpr int kDelimeterCount = 6;
// Only the first this many characters of a line are split into words.
inline constexpr std::size_t kMaxSplitLength = 2047;

extern char cons;  // opening quote
extern char cone;  // closing quote
extern char delimeters[kDelimeterCount];
extern std::int32_t delim_cur;  // how many delimeters are in force
extern std::string memory_string[kWordSlots];  // slot 0: the whole line

// Fills the slots from the line; returns the number of words.
std::int32_t seperate_words(std::string line);
// Slot and position numbers outside their ranges read as empty and write nothing.
std::string get_memory(std::int32_t slot);
void set_memory(std::int32_t slot, std::string text);
char get_delimeter(std::int32_t position);
void set_delimeter(std::int32_t position, char c);
void set_delimeter_num(std::int32_t count);
void default_delimeter_setup();

// Back to the start-up separators and empty slots; for tests.
void ResetWordSeparator();
