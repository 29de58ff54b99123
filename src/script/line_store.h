// The script line store: one job script held as numbered lines with a read
// cursor. Lines are kept exactly as read, without interpretation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::uint32_t kMaxScriptLines = 65536;
// A script larger than this, or with a line longer than this, is not loaded
// at all: it is no job script (a link to /dev/zero would fill the memory).
inline constexpr std::size_t kMaxScriptBytes = std::size_t{64} << 20;
inline constexpr std::size_t kMaxScriptLineBytes = std::size_t{1} << 20;
// The error texts a load leaves in scriptlasterror.
inline constexpr const char* kScriptCannotOpen = "Unable to open script file";
inline constexpr const char* kScriptTooLong = "Script too long: lines after 65536 are not run";
inline constexpr const char* kScriptTooLarge =
    "Script too large: more than 64 MiB, or a line of more than 1 MiB";

extern std::vector<std::string> commands;  // the lines; index 0 is the first
extern std::uint32_t programsize;          // lines loaded
extern std::uint32_t programpoint;         // index of the current line
extern std::string scriptlasterror;        // text of the last load failure

// Loads the file: every line up to a line feed (a carriage return right
// before it dropped), and always the text after the last line feed as the
// last line. A missing file, or one beyond the size limits, leaves the store
// empty and sets the error text.
void ReadScript(std::string path);
bool ScriptEOF();
void ContinueScript();
std::string ReturnScriptLine();
std::string ReturnScriptLineln();
std::uint32_t GetScriptSize();
std::uint32_t GetScriptPointer();
std::uint32_t GetScriptProgress();
std::string GetScriptError();
void ClearScript();

// Empties the store and the error text; for tests.
void ResetScriptStore();
