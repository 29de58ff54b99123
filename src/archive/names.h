// Stored names: the one rule for what a name in an archive may be. The writer
// applies it before it stores a name, the reader before it creates a file, so
// the writer never stores a name that the reader would refuse.
//
// The rule: a name is relative to the output directory. Leading separators
// ('\' and '/') and drive prefixes (a letter, a colon and a separator) are
// taken off; a
// ".." component would climb out, so the writer takes off everything up to
// and including the last one and the reader skips such a name; the part
// before the NUL holds at most archive_format::kMaxNameLength bytes and the
// whole field at most archive_format::kMaxNameFieldLength.
#pragma once

#include <string>
#include <string_view>

namespace names {

// A name made fit to be stored by the writer.
struct Storable {
    std::string removed;  // the leading part taken off (program form); empty when none
    std::string field;    // the name field to store, extended when that is still needed
};

// Takes off the leading separators, drive prefixes and everything up to and
// including the last ".." component, from the program form and by as many
// bytes from the exact form. The extension is dropped when what remains of
// the exact form holds no backslash any more.
Storable MakeStorable(std::string_view field);

// Whether a name field fits the archive: its part before the NUL and the
// whole field within their limits.
bool FitsArchive(std::string_view field);

// A stored name made fit to be created under the output directory.
struct OutputName {
    bool safe = true;     // false: a ".." component would climb out of it
    std::string removed;  // leading separators and drive prefixes taken off (program form)
    std::string path;     // what remains, in host form ('/' separators)
};

// The reader's side of the rule, for a name whose exact form (if any) has
// been found to match its program form. With an exact form, the file is
// created under it: '/' is its only separator there, and a backslash stays
// part of a component.
OutputName MakeOutputName(std::string_view program_name, std::string_view exact_name);

}  // namespace names
