#include "app/front_end.h"

#include <algorithm>
#include <string>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/reader.h"
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

// Joins the arguments with single blanks; false when one of them is the
// about switch, which ends the run.
bool JoinArguments(int argc, char** argv, std::string& joined) {
    for (int i = 1; i < argc; ++i) {
        joined += argv[i];
        if (EqualIgnoreCase(argv[i], kAboutSwitch)) return false;
        if (i + 1 < argc) joined += ' ';
    }
    return true;
}

// Unpacks an archive named on the command line, decompressing it first when
// it is bzip2 data.
void UnpackNamedArchive(const std::string& name) {
    if (is_BZ2(name)) {
        host::Print("File appears to be Bzipped2..\n");
        // After a failed tool the compressed archive stays as it was: a
        // partial result never takes its place.
        UnpackCompressed(name);
        return;
    }
    unpackfiles(name);
}

void RunNamedFile(int argc, char** argv) {
    std::string joined;
    if (!JoinArguments(argc, argv, joined)) {
        ShowAboutBox();
        return;
    }
    joined = host::FromHostPath(joined);
    host::Print("Unpacking " + joined + "\n");
    trim2(joined);
    if (EqualIgnoreCase(AnalyseFilename(joined, kExtensionPart), kJobExtension)) {
        create_actions_from_script(joined);
    } else {
        UnpackNamedArchive(joined);
    }
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

}  // namespace

int RunVarkel(int argc, char** argv) {
    PrepareProcess();
    PrintBanner();
    SetStartDir(AnalyseFilename(host::OwnExecutablePath(argc > 0 ? argv[0] : nullptr), kDirectoryPart));
    if (argc < 2) {
        create_actions_from_script(kDefaultScript, false);
    } else {
        RunNamedFile(argc, argv);
    }
    // Lines that never reached the reader (a full disk, a closed pipe) make
    // the run a failure, though the job itself went on to its end.
    if (host::OutputFailed()) ReportOutcome(Outcome::Failed);
    return static_cast<int>(RunOutcome());
}
