#include "script/line_store.h"

#include <utility>

#include "host/host.h"

std::vector<std::string> commands;
std::uint32_t programsize = 0;
std::uint32_t programpoint = 0;
std::string scriptlasterror;

namespace {

// Stores one line at the end of the loaded script; false once the store is full.
bool StoreLine(std::string line) {
    if (programsize >= kMaxScriptLines) return false;
    if (programsize < commands.size()) {
        commands[programsize] = std::move(line);
    } else {
        commands.push_back(std::move(line));
    }
    ++programsize;
    return true;
}

// Stores a line that a line feed ended. Text-mode reading drops a carriage
// return directly before the line feed; one at the very end of the file,
// with no line feed after it, stays in the line.
bool StoreEndedLine(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return StoreLine(std::move(line));
}

}  // namespace

void ReadScript(std::string path) {
    programsize = 0;
    programpoint = 0;
    auto file = host::File::OpenForReading(path);
    if (!file) {
        scriptlasterror = kScriptCannotOpen;
        return;
    }
    std::string pending;  // the line being read, up to its line feed
    std::string buffer(65536, '\0');
    for (;;) {
        auto got = file.value().Read(buffer.data(), buffer.size());
        if (!got) {
            programsize = 0;  // a directory, or a read failure: nothing usable
            scriptlasterror = kScriptCannotOpen;
            return;
        }
        if (got.value() == 0) break;
        for (std::size_t i = 0; i < got.value(); ++i) {
            if (buffer[i] != '\n') {
                pending += buffer[i];
            } else if (!StoreEndedLine(std::exchange(pending, std::string()))) {
                scriptlasterror = kScriptTooLong;
                return;
            }
        }
    }
    if (!StoreLine(std::move(pending))) scriptlasterror = kScriptTooLong;
}

bool ScriptEOF() { return programpoint >= programsize; }

void ContinueScript() { ++programpoint; }

std::string ReturnScriptLine() {
    if (programpoint >= programsize) return {};
    return commands[programpoint];
}

std::string ReturnScriptLineln() {
    std::string line = ReturnScriptLine();
    ++programpoint;
    return line;
}

std::uint32_t GetScriptSize() { return programsize; }

std::uint32_t GetScriptPointer() { return programpoint; }

std::uint32_t GetScriptProgress() {
    if (programsize == 0) return 100;  // an empty script is all done
    return programpoint * 100u / programsize;
}

std::string GetScriptError() { return scriptlasterror; }

void ClearScript() {
    for (std::uint32_t i = 0; i < programsize; ++i) commands[i].clear();
    programsize = 0;
    programpoint = 0;
}

void ResetScriptStore() {
    commands.clear();
    programsize = 0;
    programpoint = 0;
    scriptlasterror.clear();
}
