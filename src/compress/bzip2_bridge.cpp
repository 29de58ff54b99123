#include "compress/bzip2_bridge.h"

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "compress/launcher.h"
#include "host/host.h"

namespace {

// The tool's own path in the start directory. A start directory with a blank
// in it would split the command line there, so the path is quoted then.
std::string ToolOnCommandLine() {
    std::string tool = INIT_DIR + kCompressionToolName;
    if (tool.find_first_of(" \t") != std::string::npos) return '"' + tool + '"';
    return tool;
}

// A relative path that begins with '-' would reach the tool as an option
// ("-d" would turn a compression into a decompression); naming it through the
// current directory keeps it a file name and leaves the result files where
// the callers expect them.
std::string PathForTool(const std::string& path) {
    if (!path.empty() && path.front() == '-') return ".\\" + path;
    return path;
}

bool ReportToolFailure(const std::string& path) {
    host::Print("\n Error : Compression Tool Failed On " + path + "! \n");
    ReportOutcome(Outcome::Failed);
    return false;
}

// Announces the work, runs the tool with `option` on the file and waits for
// it; true when the tool started and ended with success.
bool RunTool(const std::string& announcement, const char* option, const std::string& path) {
    host::Print(announcement + path + "...\n");
    // A double quote inside the path would end its quoted token early.
    if (path.find('"') != std::string::npos) return ReportToolFailure(path);
    std::string command_line =
        ToolOnCommandLine() + " " + option + " -f \"" + PathForTool(path) + '"';
    host::Result<host::ProcessEnd> end = RunEXEWait(std::move(command_line));
    if (!end || !end.value().succeeded()) return ReportToolFailure(path);
    return true;
}

}  // namespace

bool Compress_File(std::string path) { return RunTool("Compressing ", "-z", path); }

bool UnCompress_File(std::string path) { return RunTool("UnCompressing ", "-d", path); }

bool MoveToolResult(const std::string& result, const std::string& archive) {
    // A tool that ended with success but left no result (or one that
    // cannot take the archive's name) has not done its work.
    if (!host::RenameFile(result, archive)) return ReportToolFailure(archive);
    host::Print("Renaming " + result + "\n");
    host::Print("to " + archive + "\n");
    return true;
}

bool is_BZ2(std::string path) {
    host::Result<host::File> file = host::File::OpenForReading(path);
    if (!file) return false;
    char signature[2] = {};
    host::Result<std::size_t> count = file.value().ReadFull(signature, sizeof signature);
    return count && count.value() == sizeof signature && signature[0] == 'B' &&
           signature[1] == 'Z';
}
