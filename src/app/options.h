// The options of the command line. They are recognised only when the first
// argument is one of them (after any --exclude=PATTERN); any other command
// line is a job script or an archive name, joined from all arguments as it
// always was.
#pragma once

#include <string>
#include <vector>

enum class Course {
    Classic,    // no option: the arguments name a job script or an archive
    Help,       // -h, --help
    Version,    // --version
    Directory,  // -C DIR ARCHIVE [NAME...], --directory=DIR ..., --directory DIR ...
    List,       // -t ARCHIVE [NAME...], --list ARCHIVE [NAME...]
    Test,       // --test ARCHIVE [NAME...]
    Usage,      // an option with a missing operand or a word too many
};

struct CommandLine {
    Course course = Course::Classic;
    std::vector<std::string> names;  // Classic: the arguments to join (after a leading "--")
    std::string directory;           // Directory: where to unpack
    std::string archive;             // Directory, List, Test: the archive, as typed
    std::vector<std::string> members;   // Directory, List, Test: the names after the archive
    std::vector<std::string> excluded;  // --exclude=PATTERN, before the archive, in order
    std::string usage;               // Usage: the line that says what was wrong
};

CommandLine ParseCommandLine(int argc, char** argv);

// The text of --help and of --version.
std::string HelpText();
std::string VersionText();
