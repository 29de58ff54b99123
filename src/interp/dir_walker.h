// The directory walker: adds every file of a directory (and, when asked, of
// its sub-directories) to the action list, with stored names made relative
// to a base directory when the directory tree is preserved.
#pragma once

#include <string>

// Walks `directory` depth first in listing order. Files are entered with the
// source path directory + name in host form (the names exactly as listed);
// directories are walked when `recurse` is on; anything else (FIFOs, sockets,
// links to directories) is skipped with a notice. Each listing is read whole
// and closed before the walk descends, so a tree of any depth costs a few
// descriptors at a time.
// Files and directories that match the walk exclusions are left out, and a
// directory left out is not entered; nothing is printed for them.
void add_a_dir(std::string base_directory, std::string directory, bool recurse);
// The job's exclusions (EXCLUDE): a pattern is added, or all are forgotten.
void ExcludeFromWalks(std::string pattern);
void ClearWalkExclusions();
// Removes from the front of `path` what it shares with `base_directory`.
void DirAccordingTo(const std::string& base_directory, std::string& path);
