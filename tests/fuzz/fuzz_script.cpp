// Fuzz target for the script text: any bytes, stored as a job script, are
// loaded by the line store and every line is split by the word separator.
// The first byte picks the separator set (start-up or default); the rest is
// the script. Invariants checked on every input:
//  * the lines, joined again with line feeds, give back the script with each
//    carriage return + line feed pair read as a line feed;
//  * walking the store with ScriptEOF / ReturnScriptLine / ContinueScript
//    yields exactly the stored lines, and the progress reaches 100;
//  * splitting a line keeps it whole in slot 0, finds no more words than fit
//    in the slots, stores no quote character, leaves every slot after the
//    last word empty, and never puts more characters into the words than
//    the split part of the line holds.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "script/line_store.h"
#include "script/word_separator.h"

namespace {

void Fail(const char* why) {
    std::fprintf(stderr, "fuzz_script: %s\n", why);
    std::abort();
}

// Made once and never destroyed, so the exit handler can still name it.
const std::string& ScriptPath() {
    static const std::string& path = *new std::string([] {
        const char* directory = std::getenv("TMPDIR");
        std::string pattern = std::string(directory != nullptr ? directory : "/tmp") +
                              "/varkel-fuzz-script-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) Fail("mkstemp failed");
        close(fd);
        std::atexit([] { unlink(ScriptPath().c_str()); });
        return pattern;
    }());
    return path;
}

std::string LinesAsRead(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result += text[i];
    }
    return result;
}

void CheckWords(const std::string& line) {
    const std::int32_t count = seperate_words(line);
    if (count < 0 || count >= kWordSlots) Fail("word count out of range");
    if (get_memory(0) != line) Fail("slot 0 does not hold the whole line");
    const std::size_t split = std::min<std::size_t>(std::strlen(line.c_str()), 2047);
    std::size_t characters = 0;
    for (std::int32_t slot = 1; slot < kWordSlots; ++slot) {
        const std::string word = get_memory(slot);
        if (word.find(cons) != std::string::npos || word.find(cone) != std::string::npos) {
            Fail("a quote character was stored in a word");
        }
        if (slot > count && !word.empty()) Fail("a slot after the last word is not empty");
        characters += word.size();
    }
    if (characters > split) Fail("the words hold more than the line");
    if (count > 0 && get_memory(count).empty() && count < kWordSlots - 1 &&
        line.find('"') == std::string::npos) {
        Fail("the last counted word is empty without any quotes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    ResetWordSeparator();
    if (data[0] & 1) default_delimeter_setup();
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    {
        std::ofstream out(ScriptPath(), std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!out) Fail("cannot write the script");
    }

    ResetScriptStore();
    ReadScript(ScriptPath());
    const std::uint32_t lines = GetScriptSize();
    if (lines == 0 || lines > kMaxScriptLines) Fail("a readable script loaded no lines");
    if (lines < kMaxScriptLines) {
        std::string joined;
        for (std::uint32_t i = 0; i < lines; ++i) {
            if (i > 0) joined += '\n';
            joined += commands[i];
        }
        if (joined != LinesAsRead(text)) Fail("the lines do not give back the script");
    }

    std::uint32_t walked = 0;
    while (!ScriptEOF()) {
        const std::string line = ReturnScriptLine();
        if (line != commands[walked]) Fail("the cursor returned another line");
        ContinueScript();
        ++walked;
        CheckWords(line);
    }
    if (walked != lines || GetScriptProgress() != 100) Fail("the walk did not end at the last line");
    return 0;
}
