#include "app/front_end.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/archive_listing.h"
#include "app/options.h"
#include "archive/format.h"
#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/reader.h"
#include "archive/selection.h"
#include "compress/bzip2_bridge.h"
#include "host/host.h"
#include "interp/interpreter.h"
#include "paths/path_helpers.h"

namespace {

const std::string ver = " 0.60 beta";
const std::string kProductLine = "Varkel " + ver;
const std::string kCreditLine = "Console file archiver for job scripts";
constexpr const char* kDefaultScript = "script.txt";
constexpr const char* kAboutSwitch = "-about";
constexpr const char* kJobExtension = "vkjob";

void PrintBanner() {
    host::Print(kProductLine + "\n");
    host::Print(kCreditLine + "\n");
    host::Print("----------------------------------------\n");
}

// One line of the about box, padded to its inner width.
std::string BoxLine(const std::string& text, std::size_t width) {
    return "| " + text + std::string(width - text.size(), ' ') + " |\n";
}

// There are no windows here: the about box is a framed notice on standard
// output with an information mark and an OK button, dismissed with Enter.
void ShowAboutBox() {
    const std::string message = "(i)  " + kCreditLine;
    const std::string button = "[ OK ]";
    const std::size_t width = std::max(message.size(), kProductLine.size()) + 4;
    const std::string rule = "+" + std::string(width + 2, '-') + "+\n";
    const std::size_t button_indent = (width - button.size()) / 2;
    host::Print(rule + BoxLine(kProductLine, width) + rule + BoxLine("", width) +
                BoxLine(message, width) + BoxLine("", width) +
                BoxLine(std::string(button_indent, ' ') + button, width) + rule);
    host::FlushOutput();
    if (host::InputIsTerminal()) host::WaitForEnter();
}

// Joins the names with single blanks; false when one of them is the about
// switch, which ends the run.
bool JoinArguments(const std::vector<std::string>& names, std::string& joined) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        joined += names[i];
        if (EqualIgnoreCase(names[i], kAboutSwitch)) return false;
        if (i + 1 < names.size()) joined += ' ';
    }
    return true;
}

void Advise(const std::string& text) { host::PrintError("varkel: " + text + "\n"); }

// What the command line asks for from an archive: the members named and
// the patterns excluded.
struct Wanted {
    std::vector<std::string> members;
    std::vector<std::string> excluded;
    bool All() const { return members.empty() && excluded.empty(); }
};

selection::MemberChoice MakeChoice(const Wanted& wanted) {
    selection::ExclusionList excluded;
    for (const std::string& pattern : wanted.excluded) excluded.Add(pattern);
    return selection::MemberChoice(wanted.members, std::move(excluded));
}

bool IsJobScript(const std::string& name) {
    return EqualIgnoreCase(AnalyseFilename(name, kExtensionPart), kJobExtension);
}

// Whether a file begins as an archive does, plain or bzip2-compressed.
bool IsArchiveFile(const std::string& name) {
    auto file = host::File::OpenForReading(name);
    char start[2] = {};
    auto got = file ? file.value().ReadFull(start, sizeof start) : host::Result<std::size_t>(0);
    const std::string_view begins(start, got ? got.value() : 0);
    return begins == archive_format::kMagic || begins == "BZ";
}

bool Exists(const std::string& name) {
    auto info = host::Examine(name);
    return !info || info.value().exists;  // what cannot be looked at may be there
}

// Unpacks an archive named on the command line, decompressing it first when
// it is bzip2 data.
void UnpackWhole(const std::string& name) {
    if (is_BZ2(name)) {
        host::Print("File appears to be Bzipped2..\n");
        // After a failed tool the compressed archive stays as it was: a
        // partial result never takes its place.
        UnpackCompressed(name, name);
        return;
    }
    unpackfiles(name);
}

// The same, taking only the records wanted.
void UnpackNamedArchive(const std::string& name, const Wanted& wanted) {
    selection::MemberChoice choice = MakeChoice(wanted);
    ChooseMembers(wanted.All() ? nullptr : &choice);
    UnpackWhole(name);
    ChooseMembers(nullptr);
}

// The words of a classic command line name one file, joined as they always
// were, unless the joined name does not exist and the first word is an
// existing archive: then the other words name its members. So every command
// line that worked before works as it did.
bool NamesMembers(const std::vector<std::string>& names, std::string joined) {
    trim2(joined);  // as the name is opened
    if (names.size() < 2 || Exists(joined)) return false;
    const std::string first = host::FromHostPath(names.front());
    return !IsJobScript(first) && IsArchiveFile(first);
}

void RunNamedFile(const std::vector<std::string>& names, Wanted wanted) {
    std::string joined;
    if (!JoinArguments(names, joined)) {
        ShowAboutBox();
        return;
    }
    joined = host::FromHostPath(joined);
    if (NamesMembers(names, joined)) {
        joined = host::FromHostPath(names.front());
        wanted.members.insert(wanted.members.end(), names.begin() + 1, names.end());
    }
    host::Print("Unpacking " + joined + "\n");
    trim2(joined);
    if (!IsJobScript(joined)) {
        UnpackNamedArchive(joined, wanted);
    } else if (!wanted.All()) {
        Advise("names and --exclude after the options are for archives; a job script "
               "says EXCLUDE=pattern");
        ReportOutcome(Outcome::Failed);
    } else {
        create_actions_from_script(joined);
    }
}

void RunDefaultScript() {
    auto script = host::Examine(kDefaultScript);
    if (script && !script.value().exists) {
        Advise(std::string("nothing to do: no ") + kDefaultScript +
               " here. Try 'varkel --help'.");
    }
    create_actions_from_script(kDefaultScript, false);
}

// -C DIR ARCHIVE: as "mkdir -p DIR && cd DIR && varkel ARCHIVE", with
// ARCHIVE made absolute first so that it names the same file from DIR.
bool RunInDirectory(const CommandLine& line) {
    std::string archive = line.archive;
    if (archive.empty() || archive.front() != '/') {
        auto here = host::CurrentDirectory();
        if (!here) {
            Advise("cannot tell the current folder: " + here.error().Text());
            return false;
        }
        archive = host::ToHostPath(here.value()) + "/" + archive;
    }
    const std::string directory = host::FromHostPath(line.directory);
    (void)CreateDir(directory.c_str());  // every missing level; a failure shows below
    if (host::Status entered = host::ChangeDirectory(directory); !entered) {
        Advise("cannot enter " + line.directory + ": " + entered.error().Text());
        return false;
    }
    RunNamedFile({archive}, Wanted{line.members, line.excluded});
    return true;
}

// Makes the process safe to run before anything is opened or printed: the
// standard streams cannot be taken by an archive, a closed reader of the
// output does not end the job half-way, and an interrupted run leaves no
// temporary file behind.
void PrepareProcess() {
    host::EnsureStandardDescriptors();
    host::IgnoreBrokenPipe();
    host::InstallInterruptCleanup();
}

// What a run ends with: the outcome as exit status. Lines that never reached
// the reader (a full disk, a closed pipe) make the run a failure, though the
// job itself went on to its end. On a terminal, progress dots are followed by
// a line feed, so the prompt starts on a line of its own.
int Finish() {
    if (host::OutputIsTerminal() && !host::OutputEndsLine()) host::Print("\n");
    if (host::OutputFailed()) ReportOutcome(Outcome::Failed);
    return static_cast<int>(RunOutcome());
}

void StartJobRun(int argc, char** argv) {
    PrintBanner();
    SetStartDir(AnalyseFilename(host::OwnExecutablePath(argc > 0 ? argv[0] : nullptr), kDirectoryPart));
}

}  // namespace

int RunVarkel(int argc, char** argv) {
    PrepareProcess();
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.course) {
        case Course::Help:
            host::Print(HelpText());
            break;
        case Course::Version:
            host::Print(VersionText());
            break;
        case Course::Usage:
            Advise(line.usage);
            return static_cast<int>(Outcome::Failed);
        case Course::List:
        case Course::Test: {
            const Wanted wanted{line.members, line.excluded};
            selection::MemberChoice choice = MakeChoice(wanted);
            selection::MemberChoice* chosen = wanted.All() ? nullptr : &choice;
            return line.course == Course::List ? ListArchive(line.archive, chosen)
                                               : TestArchive(line.archive, chosen);
        }
        case Course::Directory:
            StartJobRun(argc, argv);
            if (!RunInDirectory(line)) ReportOutcome(Outcome::Failed);
            break;
        case Course::Classic:
            StartJobRun(argc, argv);
            if (line.names.empty()) {
                RunDefaultScript();
            } else {
                RunNamedFile(line.names, Wanted{{}, line.excluded});
            }
            break;
    }
    return Finish();
}
