#include "script/line_store.h"

#include <algorithm>
#include <string_view>
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

// How reading a script file ended.
enum class LoadEnd {
    Complete,    // every line stored
    StoreFull,   // lines beyond the store's capacity were left unread
    TooLarge,    // the file or one of its lines exceeds the size limits
    Unreadable,  // a directory, or a read failure
};

// Reads the file line by line into the store; never more than one byte
// beyond the size limit of the whole script.
LoadEnd LoadLines(host::File& file) {
    std::string pending;  // the line being read, up to its line feed
    std::string buffer(65536, '\0');
    std::size_t total = 0;
    for (;;) {
        const std::size_t wanted = std::min(buffer.size(), kMaxScriptBytes + 1 - total);
        auto got = file.Read(buffer.data(), wanted);
        if (!got) return LoadEnd::Unreadable;
        if (got.value() == 0) break;
        total += got.value();
        if (total > kMaxScriptBytes) return LoadEnd::TooLarge;
        std::string_view chunk(buffer.data(), got.value());
        for (;;) {
            const std::size_t feed = chunk.find('\n');
            pending.append(chunk.substr(0, feed));
            if (pending.size() > kMaxScriptLineBytes) return LoadEnd::TooLarge;
            if (feed == std::string_view::npos) break;
            if (!StoreEndedLine(std::exchange(pending, std::string()))) return LoadEnd::StoreFull;
            chunk.remove_prefix(feed + 1);
        }
    }
    // The text after the last line feed is the last line. When the store is
    // already full and that text is empty, the script ended with its last
    // stored line: nothing was cut.
    if (programsize >= kMaxScriptLines) {
        return pending.empty() ? LoadEnd::Complete : LoadEnd::StoreFull;
    }
    StoreLine(std::move(pending));
    return LoadEnd::Complete;
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
    switch (LoadLines(file.value())) {
        case LoadEnd::Complete: break;
        case LoadEnd::StoreFull: scriptlasterror = kScriptTooLong; break;
        case LoadEnd::TooLarge:
            programsize = 0;  // no line of it runs
            scriptlasterror = kScriptTooLarge;
            break;
        case LoadEnd::Unreadable:
            programsize = 0;  // nothing usable
            scriptlasterror = kScriptCannotOpen;
            break;
    }
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
