// Linux attributes of a packed entry: what an archive made with
// ATTRIBUTES=ON stores after the exact form of each name.
//
// The attribute text is blank-separated key=value words: `mode=` the
// permission bits in octal, `mtime=` seconds and nanoseconds since the epoch
// ("1733900000.123456789"), and for anything but a regular file `type=dir` or
// `type=link` with `link=` the link's target, escaped ("\\" a backslash, "\s"
// a blank, "\n" a line feed). Readers ignore keys they do not know, so later
// versions can add more. Owners are not stored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace attributes {

enum class Kind { File, Directory, Link };

// The only permission bits ever stored or applied: rwx for all three and the
// sticky bit. Set-user-ID and set-group-ID never travel in an archive.
inline constexpr std::uint32_t kModeBits = 01777;

struct Attributes {
    Kind kind = Kind::File;
    bool has_mode = false;
    std::uint32_t mode = 0;  // within kModeBits
    bool has_time = false;   // an mtime word was there and well formed
    bool time_fits = true;   // false: a time no file system can hold, left unset
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    std::string link_target;  // unescaped
};

// The text for one entry.
std::string Format(const Attributes& attributes);

struct Parsed {
    Attributes attributes;
    std::vector<std::string> malformed;  // the words that could not be read
};

// Reads an attribute text; malformed words are listed and otherwise ignored,
// unknown keys are ignored.
Parsed Parse(std::string_view text);

// The name field of an entry added while ATTRIBUTES is on: its program form,
// its exact form and an empty attribute text, which the writer fills in from
// the file as it packs it. A directory's forms end in their separator.
std::string RequestField(std::string_view exact_name, Kind kind);

// "drwxr-xr-x", "-rw-r--r--", "lrwxrwxrwx": the mode as a listing shows it.
std::string ModeText(const Attributes& attributes);

}  // namespace attributes
