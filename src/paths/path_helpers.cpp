#include "paths/path_helpers.h"

#include <cctype>
#include <cstring>

#include "host/host.h"

namespace {

// Helpers measure a string up to its first NUL, as the archive's C-string
// names do.
std::int32_t CLength(const std::string& text) {
    return static_cast<std::int32_t>(std::strlen(text.c_str()));
}

// Index of the last `wanted` at or after `from`, or 0 when there is none.
std::int32_t LastIndexOrZero(const std::string& text, char wanted, std::int32_t from) {
    for (std::int32_t i = CLength(text) - 1; i >= from && i >= 0; --i) {
        if (text[static_cast<std::size_t>(i)] == wanted) return i;
    }
    return 0;
}

// The cut character of an extension: the last '?', else the last '#', else
// the length of the path.
std::int32_t CutIndex(const std::string& path) {
    const std::int32_t length = CLength(path);
    for (char cut : {'?', '#'}) {
        for (std::int32_t i = length - 1; i >= 0; --i) {
            if (path[static_cast<std::size_t>(i)] == cut) return i;
        }
    }
    return length;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string Copy(std::string text, std::int32_t start, std::int32_t span) {
    const std::int32_t length = CLength(text);
    if (length == 0) return {};
    const std::int32_t first = start < 0 ? 0 : start;
    std::int64_t last = static_cast<std::int64_t>(first) + span;
    if (last < 0 || last > length - 1) last = length - 1;
    if (first > last) return {};
    return text.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
}

std::string AnalyseFilename(std::string path, std::int32_t mode) {
    const std::int32_t length = CLength(path);
    std::int32_t backslash = LastIndexOrZero(path, '\\', 0);
    const std::int32_t dot = LastIndexOrZero(path, '.', backslash);
    const std::int32_t cut = CutIndex(path);
    const std::int32_t extension_end = cut >= length - 1 ? length - 1 : cut - 2;

    std::string directory;
    if (backslash == 0) {
        backslash = -1;
    } else {
        directory = Copy(path, 0, backslash);
    }
    const std::string name = Copy(path, backslash + 1, dot - backslash - 2);
    std::string extension;
    std::string name_with_extension = name;
    if (dot > 0) {
        extension = Copy(path, dot + 1, extension_end - dot);
        name_with_extension = name + "." + extension;
    }
    switch (mode) {
        case kDirectoryPart: return directory;
        case kNamePart: return name;
        case kExtensionPart: return extension;
        case kNameWithExtension: return name_with_extension;
        default: return {};
    }
}

void FixDir(std::string& dir) {
    const std::int32_t length = CLength(dir);
    if (length == 0 || dir[static_cast<std::size_t>(length - 1)] != '\\') dir += '\\';
}

void trim2(std::string& text) {
    const std::size_t last = text.find_last_not_of(' ');
    if (last == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(last + 1);
    text.erase(0, text.find_first_not_of(' '));
}

bool EqualIgnoreCase(const std::string& a, const std::string& b) {
    const std::int32_t length = CLength(a);
    if (length != CLength(b)) return false;
    for (std::int32_t i = 0; i < length; ++i) {
        const auto left = static_cast<unsigned char>(a[static_cast<std::size_t>(i)]);
        const auto right = static_cast<unsigned char>(b[static_cast<std::size_t>(i)]);
        // Only ASCII letters fold, as the C locale's toupper does.
        if (left < 128 && right < 128 ? std::toupper(left) != std::toupper(right) : left != right) {
            return false;
        }
    }
    return true;
}

bool CreateDir(const char* path) {
    std::string built;
    for (const char* c = path; *c != '\0'; ++c) {
        if (IsSeparator(*c) && !built.empty() && built.back() != ':') {
            (void)host::CreateDirectory(built);  // an existing level costs nothing
        }
        built += *c;
    }
    if (built.empty()) return false;
    return host::CreateDirectory(built).ok();
}

std::int32_t FileSize(std::string path) {
    auto file = host::File::OpenForReading(path);
    if (!file) return -1;
    auto size = file.value().Size();
    if (!size) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(size.value()));
}
