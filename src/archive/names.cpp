#include "archive/names.h"

#include <algorithm>

#include "archive/format.h"
#include "host/host.h"

namespace names {
namespace {

namespace fmt = archive_format;

// The program form separates with either slash: names typed on this host
// keep their '/', names from elsewhere have '\'.
bool IsProgramSeparator(char c) { return c == '/' || c == '\\'; }
// In an exact name a backslash is part of a component.
bool IsExactSeparator(char c) { return c == '/'; }

// A drive prefix is a letter, a colon and a separator ("C:\x", "C:/x"). A
// colon is an ordinary character in a Linux name: "c:x" and "dir:\f.txt" are
// names like any other, and taking "c:" off the first would make it "x".
bool IsDrivePrefixAt(std::string_view name, std::size_t at) {
    if (at + 2 >= name.size() || name[at + 1] != ':' || !IsProgramSeparator(name[at + 2])) {
        return false;
    }
    const char letter = name[at];
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

// Length of the run of separators and drive prefixes ("C:\") at the start.
std::size_t LeadingPrefixLength(std::string_view name) {
    std::size_t length = 0;
    for (;;) {
        if (length < name.size() && IsProgramSeparator(name[length])) {
            ++length;
        } else if (IsDrivePrefixAt(name, length)) {
            length += 2;
        } else {
            return length;
        }
    }
}

// Where the last ".." component of the name ends; 0 when it has none.
std::size_t EndOfLastParent(std::string_view name, bool (*is_separator)(char)) {
    std::size_t end_of_parent = 0;
    std::size_t start = 0;
    for (;;) {
        const auto separator = std::find_if(name.begin() + static_cast<std::ptrdiff_t>(start),
                                            name.end(), is_separator);
        const auto end = static_cast<std::size_t>(separator - name.begin());
        if (name.substr(start, end - start) == "..") end_of_parent = end;
        if (end == name.size()) return end_of_parent;
        start = end + 1;
    }
}

bool HasParentComponent(std::string_view name, bool (*is_separator)(char)) {
    return EndOfLastParent(name, is_separator) > 0;
}

bool HoldsBackslash(std::string_view name) { return name.find('\\') != std::string_view::npos; }

// How many leading bytes the writer takes off: prefixes and ".." components
// in turn, until the name starts with neither ("..\C:..\x" takes three rounds).
std::size_t StorableCut(std::string_view program_name) {
    std::size_t cut = 0;
    for (;;) {
        const std::size_t prefix = LeadingPrefixLength(program_name.substr(cut));
        cut += prefix;
        const std::size_t parent = EndOfLastParent(program_name.substr(cut), IsProgramSeparator);
        cut += parent;
        if (prefix == 0 && parent == 0) return cut;
    }
}

}  // namespace

Storable MakeStorable(std::string_view field) {
    const fmt::StoredNameParts parts = fmt::SplitStoredName(field);
    const std::size_t cut = StorableCut(parts.program);
    if (cut == 0) return {"", std::string(field)};  // stored exactly as given
    Storable storable{std::string(parts.program.substr(0, cut)),
                      std::string(parts.program.substr(cut))};
    if (fmt::ExactNameMatches(parts.program, parts.exact)) {
        const std::string_view exact_rest = parts.exact.substr(cut);
        if (parts.has_attributes) {
            // Attribute text needs the exact form before it, whatever it holds.
            storable.field = fmt::WithAttributes(storable.field, exact_rest, parts.attributes);
        } else if (HoldsBackslash(exact_rest)) {
            storable.field = fmt::WithExactName(storable.field, exact_rest);
        }
    }
    return storable;
}

bool FitsArchive(std::string_view field) {
    return fmt::SplitStoredName(field).program.size() <=
               static_cast<std::size_t>(fmt::kMaxNameLength) &&
           field.size() <= static_cast<std::size_t>(fmt::kMaxNameFieldLength);
}

OutputName MakeOutputName(std::string_view program_name, std::string_view exact_name) {
    OutputName output;
    const std::size_t prefix = LeadingPrefixLength(program_name);
    // Looked for in what remains once the prefix is gone: "C:..\x" holds no
    // ".." component until its drive prefix is removed.
    const std::string_view program_rest = program_name.substr(prefix);
    if (HasParentComponent(program_rest, IsProgramSeparator)) {
        output.safe = false;
        return output;
    }
    output.removed = std::string(program_name.substr(0, prefix));
    if (exact_name.empty()) {
        output.path = host::ToHostPath(program_rest);
        return output;
    }
    // The exact form goes to the file system as it is: it must pass the same
    // checks in its own terms.
    const std::string_view exact_rest = exact_name.substr(std::min(prefix, exact_name.size()));
    if ((!exact_rest.empty() && IsExactSeparator(exact_rest.front())) ||
        HasParentComponent(exact_rest, IsExactSeparator)) {
        output.safe = false;
        return output;
    }
    output.path = std::string(exact_rest);
    return output;
}

}  // namespace names
