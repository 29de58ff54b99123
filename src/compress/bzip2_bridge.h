// The compression bridge: compresses and decompresses whole archive files by
// running the bzip2 tool that lies in the start directory INIT_DIR.
#pragma once

#include <string>

inline constexpr const char* kCompressionToolName = "bzip2-102-x86-win32.exe";

// Leaves path + ".bz2" and removes path; true when the tool succeeded.
bool Compress_File(std::string path);
// Leaves path + ".out" and removes path; true when the tool succeeded.
bool UnCompress_File(std::string path);
// Puts the tool's result file in the archive's place and says so ("Renaming"
// result, "to" archive). A result that is missing or cannot be renamed is
// the tool's failure, reported as such, and nothing is renamed; false then.
bool MoveToolResult(const std::string& result, const std::string& archive);
// True when the file begins with the bytes 'B' 'Z'.
bool is_BZ2(std::string path);
