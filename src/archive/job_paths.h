// Where the archives and the output directory of a job lie.
//
// DIR_IN and DIR_OUT hold the text the job gave them: the lines show it and
// stored names are made relative to it. A relative text names the directory
// it named when its command ran, for the rest of the job, although an UNPACK
// moves the current directory into its output directory meanwhile. So each
// setting is anchored to the directory that was current when it was set, and
// the file system is reached from there. While the anchor is still the
// current directory (every job that has not unpacked since), the path is the
// text itself, exactly as before.
#pragma once

#include <string>

// One path of the job: how the lines show it and how to reach it.
struct JobPath {
    std::string shown;  // program form, as the lines show it
    std::string path;   // program form, reaching it from the current directory
};

// Records that DIR_IN, or DIR_OUT, was just set while the current directory
// was the one it is relative to.
void AnchorInputDirectory();
void AnchorOutputDirectory();

// The archive of PACK=word: the word itself when it is absolute, else
// DIR_OUT + word.
JobPath OutputArchivePath(const std::string& word);
// The archive of UNPACK=word: the word itself when it is absolute, else
// DIR_IN + word.
JobPath InputArchivePath(const std::string& word);
// The output directory DIR_OUT.
JobPath OutputDirectoryPath();
