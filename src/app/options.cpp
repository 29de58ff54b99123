#include "app/options.h"

#include <string_view>
#include <utility>

namespace {

constexpr std::string_view kDirectoryPrefix = "--directory=";
constexpr std::string_view kExcludePrefix = "--exclude=";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

CommandLine Usage(const std::string& what) {
    CommandLine line;
    line.course = Course::Usage;
    line.usage = what + " (try 'varkel --help')";
    return line;
}

// An option that takes no operand: nothing may follow it.
CommandLine Alone(Course course, int argc, const std::string& option) {
    if (argc > 2) return Usage("option " + option + " takes no operand");
    CommandLine line;
    line.course = course;
    return line;
}

// Takes the --exclude=PATTERN words from `next` on into `line`; false when
// one has no pattern.
bool TakeExclusions(int argc, char** argv, int& next, CommandLine& line) {
    for (; next < argc && StartsWith(argv[next], kExcludePrefix); ++next) {
        const std::string pattern = std::string(argv[next]).substr(kExcludePrefix.size());
        if (pattern.empty()) return false;
        line.excluded.push_back(pattern);
    }
    return true;
}

// An archive from argument `next` on (exclusions may come first), then the
// members named.
CommandLine OnArchive(CommandLine line, const std::string& no_archive, int next, int argc,
                      char** argv) {
    if (!TakeExclusions(argc, argv, next, line)) return Usage("option --exclude needs a pattern");
    if (next >= argc) return Usage(no_archive);
    line.archive = argv[next];
    for (++next; next < argc; ++next) line.members.emplace_back(argv[next]);
    return line;
}

CommandLine Directory(CommandLine line, const std::string& directory, int next, int argc,
                      char** argv) {
    if (directory.empty()) return Usage("option -C needs a folder and an archive");
    line.course = Course::Directory;
    line.directory = directory;
    return OnArchive(std::move(line), "option -C needs an archive after the folder", next, argc,
                     argv);
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    int next = 1;
    if (!TakeExclusions(argc, argv, next, line)) return Usage("option --exclude needs a pattern");
    if (next >= argc) {
        if (!line.excluded.empty()) return Usage("option --exclude needs an archive");
        return line;
    }
    const std::string first = argv[next++];
    if (first == "-h" || first == "--help") return Alone(Course::Help, argc, first);
    if (first == "--version") return Alone(Course::Version, argc, first);
    if (first == "-t" || first == "--list" || first == "--test") {
        line.course = first == "--test" ? Course::Test : Course::List;
        return OnArchive(std::move(line), "option " + first + " needs an archive", next, argc, argv);
    }
    if (first == "-C" || first == "--directory") {
        if (next >= argc) return Usage("option " + first + " needs a folder and an archive");
        const std::string directory = argv[next++];
        return Directory(std::move(line), directory, next, argc, argv);
    }
    if (StartsWith(first, kDirectoryPrefix)) {
        return Directory(std::move(line), first.substr(kDirectoryPrefix.size()), next, argc, argv);
    }
    // "--" ends the options: what follows is a name, even one like an option.
    if (first != "--") line.names.push_back(first);
    for (; next < argc; ++next) line.names.emplace_back(argv[next]);
    return line;
}

std::string HelpText() {
    return "Usage: varkel [JOB.vkjob | ARCHIVE [NAME...]]\n"
           "       varkel [--exclude=PATTERN...] -C DIR ARCHIVE [NAME...]\n"
           "       varkel [--exclude=PATTERN...] -t | --test ARCHIVE [NAME...]\n"
           "       varkel -h | --help | --version\n"
           "\n"
           "Varkel gathers files into an archive and recreates them from it.\n"
           "\n"
           "  varkel               run the job script script.txt of the current folder\n"
           "  varkel JOB.vkjob     run that job script (ADDDIR, EXCLUDE, PACK, UNPACK, ...)\n"
           "  varkel ARCHIVE       unpack the archive into the current folder\n"
           "                       (a bzip2-compressed archive is decompressed first)\n"
           "  varkel ARCHIVE NAME  unpack only the members named: a file, a folder with\n"
           "                       all it holds, or a wildcard pattern ('*', '?', [...])\n"
           "  -C, --directory DIR  unpack ARCHIVE into DIR, made when missing\n"
           "  -t, --list ARCHIVE   list what the archive holds: size and name\n"
           "  --test ARCHIVE       read the whole archive and check it\n"
           "  --exclude=PATTERN    leave out what matches when unpacking or listing;\n"
           "                       repeatable; before the archive\n"
           "  --                   what follows is a name, even one that starts with '-'\n"
           "  -h, --help           show this text\n"
           "  --version            show the version\n"
           "\n"
           "A NAME that is in no record of the archive is reported, and the status is 2.\n"
           "Exit status: 0 all done, 1 a file changed while it was packed,\n"
           "2 something was not done.\n"
           "The manual: man varkel; the job language: "
           "/usr/share/doc/varkel/job-language.md\n";
}

std::string VersionText() {
    return "varkel 0.60 beta\n"
           "MIT License, copyright the Varkel developers.\n";
}
