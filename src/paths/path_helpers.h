// Path, string and file helpers: the small, stateless functions on which all
// path handling of Varkel rests. Paths use the backslash as separator.
#pragma once

#include <cstdint>
#include <string>

// Modes of AnalyseFilename.
enum AnalyseMode : std::int32_t {
    kDirectoryPart = 0,  // up to and including the last backslash
    kNamePart = 1,       // file name without its extension
    kExtensionPart = 2,  // extension without the dot
    kNameWithExtension = 3,
};

// Characters of `text` from index start through start + span inclusive, with
// the clipping rules the callers rely on (a span of 0 copies one character).
std::string Copy(std::string text, std::int32_t start, std::int32_t span);
std::string AnalyseFilename(std::string path, std::int32_t mode);
// Appends a backslash unless the string already ends in one.
void FixDir(std::string& dir);
// Removes spaces (code 32 only) at both ends.
void trim2(std::string& text);
// Whole-string equality with ASCII letter case ignored.
bool EqualIgnoreCase(const std::string& a, const std::string& b);
// Creates every directory along the path, parent first; the result is the
// success of the last creation step.
bool CreateDir(const char* path);
// The low 32 bits of the file's size; -1 when it cannot be opened.
std::int32_t FileSize(std::string path);
