// The job's process-wide state: the action list (the files the next pack
// writes, each with its stored name and size) and the job settings. One list
// and one set of settings per process, alive until it ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Row 0: source paths, where the writer reads each file, in host form: '/'
// separators and every other byte exactly as the file system names the file
// (a backslash in a source path is part of a name). The walker builds them
// from the host form of the directory it was given and the names as listed;
// ADDFILE converts the path it was given. Whatever prints a source path shows
// its program form, host::FromHostPath(source).
// Row 1: stored names, what the archive records (archive/format.h).
// Index i of both rows and of Action_Size is one entry.
// The list grows as needed; entries at or above actions_size are stale.
extern std::vector<std::string> Action_Mem[2];
extern std::vector<std::int32_t> Action_Size;
extern std::int32_t actions_size;   // number of valid entries
extern std::int32_t actions_point;  // next entry the writer packs

extern std::string DIR_IN;   // base of stored names; decompression directory
extern std::string DIR_OUT;  // where archives are written and unpacked
extern std::string INIT_DIR; // the program's start directory (the tool's home)
extern bool compression;
extern bool preserve_directory_tree;
extern std::int32_t refresh_draw;  // a progress dot every this many files
extern std::int32_t dot_draw;      // files since the last dot, across packs

// Appends one entry; a negative size (a file that could not be measured)
// is refused silently.
void system_add_file(std::string source, std::string stored_name, std::int32_t size);
void Toggle_Compressed(bool on);
void SetStartDir(std::string dir);
// Orders the whole list by size, smallest first; equal sizes keep the order
// in which they were added.
void Sort_Files_Small_First();

// Puts the list and every setting back to the values at program start.
// The program itself never calls it: it is for tests.
void ResetJobState();
