#include "app/options.h"

#include <string_view>

namespace {

constexpr std::string_view kDirectoryPrefix = "--directory=";

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

// An option that takes exactly one archive.
CommandLine OnArchive(Course course, int argc, char** argv) {
    const std::string option = argv[1];
    if (argc < 3) return Usage("option " + option + " needs an archive");
    if (argc > 3) return Usage("option " + option + " takes one archive");
    CommandLine line;
    line.course = course;
    line.archive = argv[2];
    return line;
}

CommandLine Directory(const std::string& directory, int first_operand, int argc, char** argv) {
    if (directory.empty()) return Usage("option -C needs a folder and an archive");
    if (first_operand >= argc) return Usage("option -C needs an archive after the folder");
    if (first_operand + 1 < argc) return Usage("option -C takes one archive");
    CommandLine line;
    line.course = Course::Directory;
    line.directory = directory;
    line.archive = argv[first_operand];
    return line;
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    if (argc < 2) return line;
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") return Alone(Course::Help, argc, first);
    if (first == "--version") return Alone(Course::Version, argc, first);
    if (first == "-t" || first == "--list") return OnArchive(Course::List, argc, argv);
    if (first == "--test") return OnArchive(Course::Test, argc, argv);
    if (first == "-C" || first == "--directory") {
        if (argc < 3) return Usage("option " + first + " needs a folder and an archive");
        return Directory(argv[2], 3, argc, argv);
    }
    if (std::string_view(first).substr(0, kDirectoryPrefix.size()) == kDirectoryPrefix) {
        return Directory(first.substr(kDirectoryPrefix.size()), 2, argc, argv);
    }
    // "--" ends the options: what follows is a name, even one like an option.
    const int first_name = first == "--" ? 2 : 1;
    for (int i = first_name; i < argc; ++i) line.names.emplace_back(argv[i]);
    return line;
}

std::string HelpText() {
    return "Usage: varkel [JOB.vkjob | ARCHIVE]\n"
           "       varkel -C DIR ARCHIVE\n"
           "       varkel -t ARCHIVE | --test ARCHIVE\n"
           "       varkel -h | --help | --version\n"
           "\n"
           "Varkel gathers files into an archive and recreates them from it.\n"
           "\n"
           "  varkel               run the job script script.txt of the current folder\n"
           "  varkel JOB.vkjob     run that job script (ADDDIR, PACK, UNPACK, ...)\n"
           "  varkel ARCHIVE       unpack the archive into the current folder\n"
           "                       (a bzip2-compressed archive is decompressed first)\n"
           "  -C, --directory DIR  unpack ARCHIVE into DIR, made when missing\n"
           "  -t, --list ARCHIVE   list what the archive holds: size and name\n"
           "  --test ARCHIVE       read the whole archive and check it\n"
           "  --                   what follows is a name, even one that starts with '-'\n"
           "  -h, --help           show this text\n"
           "  --version            show the version\n"
           "\n"
           "Exit status: 0 all done, 1 a file changed while it was packed,\n"
           "2 something was not done.\n"
           "The manual: man varkel; the job language: "
           "/usr/share/doc/varkel/job-language.md\n";
}

std::string VersionText() {
    return "varkel 0.60 beta\n"
           "MIT License, copyright the Varkel developers.\n";
}
