// Fuzz target for the archive reader: any bytes, stored as an archive file,
// are unpacked into a fresh output directory. Nothing may ever appear, vanish
// or change outside that directory: two levels of parent directories, each
// holding a sentinel file, are checked after every run, and the run aborts
// (a finding) when their listing or a sentinel differs.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/reader.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSentinelText = "sentinel: must stay as it is";

struct Layout {
    std::string root;    // holds "sentinel" and "inner"
    std::string inner;   // holds "sentinel", "archive.vk" and "out"
    std::string out;     // the output directory, made anew for every input
    std::string archive;
};

std::string ProgramForm(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

void Fail(const std::string& why) {
    std::fprintf(stderr, "fuzz_reader: %s\n", why.c_str());
    std::abort();
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) Fail("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> Listing(const std::string& directory) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        names.insert(entry.path().filename().string());
    }
    if (error) Fail("cannot list " + directory);
    return names;
}

void CheckSentinel(const std::string& directory) {
    const std::string path = directory + "/sentinel";
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        Fail("sentinel replaced: " + path);
    }
    if (ReadFile(path) != kSentinelText) Fail("sentinel changed: " + path);
}

// Made once and never destroyed, so the exit handler that removes the
// scratch directory can still name it.
const Layout& Scratch() {
    static const Layout& layout = *new Layout([] {
        const char* directory = std::getenv("TMPDIR");
        std::string pattern = std::string(directory != nullptr ? directory : "/tmp") +
                              "/varkel-fuzz-reader-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp failed");
        Layout made;
        made.root = pattern;
        made.inner = made.root + "/inner";
        made.out = made.inner + "/out";
        made.archive = made.inner + "/archive.vk";
        fs::create_directory(made.inner);
        for (const std::string& directory : {made.root, made.inner}) {
            const std::string text = kSentinelText;
            WriteFile(directory + "/sentinel", reinterpret_cast<const uint8_t*>(text.data()),
                      text.size());
        }
        // What the reader prints is of no interest here; findings go to stderr.
        if (std::freopen("/dev/null", "w", stdout) == nullptr) Fail("cannot silence stdout");
        std::atexit([] {
            std::error_code ignored;
            fs::current_path("/", ignored);
            fs::remove_all(Scratch().root, ignored);
        });
        return made;
    }());
    return layout;
}

// What an independent reading of the bytes says the reader must conclude.
struct Expectation {
    bool must_fail = false;      // not an archive, a damaged or a cut record
    bool nothing_read = false;   // a file count below 1: no record is read
    // The records, when every name is plain (letters, digits, '.', '_', not
    // "." or "..") and appears once: then each file must come out byte for
    // byte and nothing else.
    std::vector<std::pair<std::string, std::string>> plain_files;
    bool all_plain = true;
};

std::int32_t Int32At(const uint8_t* at) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) |
                                     static_cast<std::uint32_t>(at[1]) << 8 |
                                     static_cast<std::uint32_t>(at[2]) << 16 |
                                     static_cast<std::uint32_t>(at[3]) << 24);
}

// A name with an exact form after a NUL that does not mirror the part
// before it ('/' standing for '\\') marks a damaged record.
bool HasMismatchedExactName(const std::string& name) {
    const size_t nul = name.find('\0');
    if (nul == std::string::npos) return false;
    std::string exact = name.substr(nul + 1);
    exact = exact.substr(0, exact.find('\0'));
    if (exact.empty()) return false;
    for (char& c : exact) {
        if (c == '/') c = '\\';
    }
    return exact != name.substr(0, nul);
}

bool IsPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_';
        if (!plain) return false;
    }
    return true;
}

Expectation Expect(const uint8_t* data, size_t size) {
    Expectation expected;
    if (size < 12 || data[0] != 'V' || data[1] != 'K') {
        expected.must_fail = true;
        return expected;
    }
    if (Int32At(data + 8) < 1) {
        expected.nothing_read = true;
        return expected;
    }
    std::set<std::string> seen;
    size_t at = 12;
    while (at < size) {
        if (size - at < 8) {
            expected.must_fail = true;  // cut inside an entry header
            return expected;
        }
        const std::int32_t data_size = Int32At(data + at);
        const std::int32_t name_length = Int32At(data + at + 4);
        if (data_size < 0 || name_length < 0 || name_length > 16384) {
            expected.must_fail = true;  // damaged
            return expected;
        }
        at += 8;
        const auto need = static_cast<size_t>(name_length) + static_cast<size_t>(data_size);
        if (size - at < need) {
            expected.must_fail = true;  // cut inside a name or the data
            return expected;
        }
        const std::string name(reinterpret_cast<const char*>(data + at),
                               static_cast<size_t>(name_length));
        if (HasMismatchedExactName(name)) {
            expected.must_fail = true;  // shows one name and would write another
            return expected;
        }
        const std::string bytes(reinterpret_cast<const char*>(data + at + name_length),
                                static_cast<size_t>(data_size));
        if (IsPlainName(name) && seen.insert(name).second && name != "archive.vk") {
            expected.plain_files.emplace_back(name, bytes);
        } else {
            expected.all_plain = false;
        }
        at += need;
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Layout& layout = Scratch();
    fs::current_path(layout.inner);
    std::error_code error;
    fs::remove_all(layout.out, error);
    if (error) Fail("cannot clear the output directory");
    fs::create_directory(layout.out);
    WriteFile(layout.archive, data, size);

    ResetJobState();
    ResetOutcome();
    DIR_OUT = ProgramForm(layout.out) + "\\";
    unpackfiles(ProgramForm(layout.archive));
    std::fflush(stdout);

    if (fs::current_path(error) != fs::path(layout.out)) Fail("the reader left the output directory");
    fs::current_path(layout.inner);
    if (Listing(layout.root) != std::set<std::string>{"inner", "sentinel"}) {
        Fail("something appeared beside the output directory's parent");
    }
    if (Listing(layout.inner) != std::set<std::string>{"archive.vk", "out", "sentinel"}) {
        Fail("something appeared beside the output directory");
    }
    CheckSentinel(layout.root);
    CheckSentinel(layout.inner);
    // The archive being read is never written to.
    const std::string archive = ReadFile(layout.archive);
    if (archive.size() != size || (size > 0 && archive.compare(0, size, reinterpret_cast<const char*>(data), size) != 0)) {
        Fail("the archive changed while it was read");
    }
    const Outcome outcome = RunOutcome();
    if (outcome != Outcome::Clean && outcome != Outcome::Failed) Fail("unexpected outcome");

    const Expectation expected = Expect(data, size);
    if (expected.must_fail && outcome != Outcome::Failed) {
        Fail("a malformed or cut archive was not reported as a failure");
    }
    if ((expected.must_fail && size < 12) || expected.nothing_read) {
        if (!Listing(layout.out).empty()) Fail("files were made from an archive that has none");
    }
    if (!expected.must_fail && !expected.nothing_read && expected.all_plain) {
        // A sound archive of plain, distinct names: every file comes out whole.
        for (const auto& [name, bytes] : expected.plain_files) {
            if (ReadFile(layout.out + "/" + name) != bytes) Fail("record not unpacked whole: " + name);
        }
        if (outcome != Outcome::Clean) Fail("a sound archive failed");
        if (Listing(layout.out).size() != expected.plain_files.size()) {
            Fail("more files came out than the archive holds");
        }
    }
    return 0;
}
