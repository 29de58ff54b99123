// Choosing what a run takes: exclusion patterns (EXCLUDE in jobs, --exclude
// on the command line) and the members named on the command line.
//
// Patterns are shell wildcards (fnmatch: '*', '?', '[...]'); '*' crosses
// separators and letter case matters. A pattern without a separator is
// matched against an entry's own name, a pattern with one ('/' or '\', both
// taken as '/') against its path relative to where the choice starts: the
// directory ADDDIR names, or the archive's root.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace selection {

class ExclusionList {
public:
    void Add(std::string pattern);
    void Clear();
    bool Empty() const { return by_name_.empty() && by_path_.empty(); }

    // An entry met while walking a directory: its own name and its path
    // relative to the walk's top ('/' separators).
    bool Excludes(std::string_view own_name, std::string_view relative_path) const;
    // A stored path ('/' separators): excluded when it, or any directory it
    // lies in, is.
    bool ExcludesPath(std::string_view path) const;

private:
    std::vector<std::string> by_name_;
    std::vector<std::string> by_path_;
};

// The records a command line asks for: those named (none named: all of
// them) and not excluded. A name chooses the record of that name, every
// record under it as a directory, and every record it matches as a pattern.
class MemberChoice {
public:
    MemberChoice() = default;
    MemberChoice(std::vector<std::string> names, ExclusionList excluded);

    // Whether the record is taken. `program_name` is the stored name before
    // the NUL, `exact_name` the exact form, empty when the record has none.
    // Each name that chooses a taken record is marked as found.
    bool Takes(std::string_view program_name, std::string_view exact_name);
    // The names, as typed, that chose no record.
    std::vector<std::string> NotFound() const;

private:
    struct Named {
        std::string typed;
        std::string path;  // '/' separators, no separator at either end
        bool found = false;
    };
    bool Chooses(Named& named, std::string_view path) const;

    std::vector<Named> names_;
    ExclusionList excluded_;
};

// A path in the form the choice compares: '/' separators, none at either
// end.
std::string ComparablePath(std::string_view path);

// Says on standard error which names chose nothing ("varkel: NAME: not in
// the archive"); whether there was any.
bool ReportNotFound(const MemberChoice& choice);

}  // namespace selection
