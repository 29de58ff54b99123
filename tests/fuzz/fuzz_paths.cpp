// Fuzz target for the path and string helpers. The first eight bytes give a
// start and a span for Copy, the rest is the text. Checked on every input:
//  * Copy agrees with a model worked out in 64-bit arithmetic and never
//    reads outside its text (AddressSanitizer watches the reads);
//  * AnalyseFilename's parts rebuild the path: the directory part is a
//    prefix ending in a backslash, the name follows it, the name with
//    extension is the name, a dot and the extension, and without a '?' or
//    '#' cut character directory + name with extension is the whole path;
//  * FixDir appends one backslash at most and is idempotent; trim2 removes
//    exactly the outer spaces and is idempotent; EqualIgnoreCase is
//    reflexive, symmetric and agrees with ASCII case folding;
//  * the host path conversions are each other's inverse on paths without
//    the other separator.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host.h"
#include "paths/path_helpers.h"

namespace {

void Fail(const char* why) {
    std::fprintf(stderr, "fuzz_paths: %s\n", why);
    std::abort();
}

std::int32_t Int32At(const uint8_t* at) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

// The text up to its first NUL: what every helper measures.
std::string CText(const std::string& text) { return std::string(text.c_str()); }

std::string CopyModel(const std::string& text, std::int64_t start, std::int64_t span) {
    const std::string c_text = CText(text);
    const auto length = static_cast<std::int64_t>(c_text.size());
    if (length == 0) return {};
    const std::int64_t first = start < 0 ? 0 : start;
    std::int64_t last = first + span;
    if (last < 0 || last > length - 1) last = length - 1;
    if (first > last) return {};
    return c_text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
}

void CheckCopy(const std::string& text, std::int32_t start, std::int32_t span) {
    if (Copy(text, start, span) != CopyModel(text, start, span)) Fail("Copy disagrees with the model");
    // The spans AnalyseFilename uses come near the ends of the text.
    const auto length = static_cast<std::int32_t>(CText(text).size());
    for (std::int32_t s : {-1, 0, 1, length - 1, length, length + 1}) {
        for (std::int32_t n : {-2, -1, 0, 1, length - s - 2, length - s - 1, length - s}) {
            if (Copy(text, s, n) != CopyModel(text, s, n)) Fail("Copy disagrees near the ends");
        }
    }
}

void CheckAnalyse(const std::string& path) {
    const std::string whole = CText(path);
    const std::string directory = AnalyseFilename(path, kDirectoryPart);
    const std::string name = AnalyseFilename(path, kNamePart);
    const std::string extension = AnalyseFilename(path, kExtensionPart);
    const std::string name_with_extension = AnalyseFilename(path, kNameWithExtension);
    for (std::int32_t mode : {-1, 4, 100}) {
        if (!AnalyseFilename(path, mode).empty()) Fail("an unknown mode gave a result");
    }
    if (!directory.empty()) {
        if (directory.back() != '\\') Fail("the directory part does not end in a backslash");
        if (whole.compare(0, directory.size(), directory) != 0) Fail("the directory part is no prefix");
        if (whole.find('\\', directory.size()) != std::string::npos) {
            Fail("a backslash is left after the directory part");
        }
    }
    if (whole.compare(directory.size(), name.size(), name) != 0) Fail("the name does not follow the directory");
    if (name_with_extension != name && name_with_extension != name + "." + extension) {
        Fail("the name with extension is not rebuilt from its parts");
    }
    if (extension.find('\\') != std::string::npos) Fail("the extension holds a backslash");
    const bool has_cut = whole.find_first_of("?#") != std::string::npos;
    if (!has_cut && directory + name_with_extension != whole) Fail("the parts do not rebuild the path");
    if (has_cut && whole.compare(0, directory.size() + name.size(), directory + name) != 0) {
        Fail("directory and name are not the front of the path");
    }
}

void CheckFixDirAndTrim(const std::string& text) {
    const bool has_nul = text.find('\0') != std::string::npos;
    std::string fixed = text;
    FixDir(fixed);
    const std::string c_text = CText(text);
    const bool ended = !c_text.empty() && c_text.back() == '\\';
    if (fixed != (ended ? text : text + "\\")) Fail("FixDir changed more than the end");
    if (!has_nul) {
        std::string again = fixed;
        FixDir(again);
        if (again != fixed) Fail("FixDir is not idempotent");
    }

    std::string trimmed = text;
    trim2(trimmed);
    const std::size_t first = text.find_first_not_of(' ');
    const std::string expected =
        first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
    if (trimmed != expected) Fail("trim2 removed more or less than the outer spaces");
    std::string again = trimmed;
    trim2(again);
    if (again != trimmed) Fail("trim2 is not idempotent");
}

void CheckEqualIgnoreCase(const std::string& a, const std::string& b) {
    if (!EqualIgnoreCase(a, a)) Fail("EqualIgnoreCase is not reflexive");
    if (EqualIgnoreCase(a, b) != EqualIgnoreCase(b, a)) Fail("EqualIgnoreCase is not symmetric");
    const std::string ca = CText(a);
    const std::string cb = CText(b);
    bool model = ca.size() == cb.size();
    for (std::size_t i = 0; model && i < ca.size(); ++i) {
        auto fold = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
        model = fold(static_cast<unsigned char>(ca[i])) == fold(static_cast<unsigned char>(cb[i]));
    }
    if (EqualIgnoreCase(a, b) != model) Fail("EqualIgnoreCase disagrees with ASCII folding");
    std::string upper = a;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    if (!EqualIgnoreCase(a, upper)) Fail("a text differs from its upper case");
}

void CheckHostPaths(const std::string& text) {
    if (text.find('/') == std::string::npos &&
        host::FromHostPath(host::ToHostPath(text)) != text) {
        Fail("program form -> host form -> program form changed the path");
    }
    if (host::ToHostPath(text).find('\\') != std::string::npos) Fail("a backslash reached the host form");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const std::int32_t start = Int32At(data);
    const std::int32_t span = Int32At(data + 4);
    const std::string text(reinterpret_cast<const char*>(data + 8), size - 8);
    CheckCopy(text, start, span);
    CheckAnalyse(text);
    CheckFixDirAndTrim(text);
    const std::size_t half = text.size() / 2;
    CheckEqualIgnoreCase(text.substr(0, half), text.substr(half));
    CheckHostPaths(text);
    return 0;
}
