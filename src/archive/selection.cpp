#include "archive/selection.h"

#include <fnmatch.h>

#include <algorithm>
#include <utility>

#include "host/host.h"

namespace selection {

namespace {

// Without FNM_PATHNAME, so that '*' crosses separators; without escapes,
// since a backslash is a separator in a pattern.
bool Matches(const std::string& pattern, std::string_view text) {
    return fnmatch(pattern.c_str(), std::string(text).c_str(), FNM_NOESCAPE) == 0;
}

bool AnyMatches(const std::vector<std::string>& patterns, std::string_view text) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return Matches(pattern, text); });
}

std::string WithSlashes(std::string_view path) {
    std::string slashed(path);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    return slashed;
}

bool IsPattern(std::string_view name) { return name.find_first_of("*?[") != std::string_view::npos; }

}  // namespace

// Without separators at either end.
std::string Trimmed(std::string comparable) {
    const std::size_t first = comparable.find_first_not_of('/');
    if (first == std::string::npos) return {};
    comparable.erase(0, first);
    comparable.erase(comparable.find_last_not_of('/') + 1);
    return comparable;
}

std::string ComparablePath(std::string_view path) { return Trimmed(WithSlashes(path)); }

void ExclusionList::Add(std::string pattern) {
    pattern = WithSlashes(pattern);
    if (pattern.find('/') == std::string::npos) {
        by_name_.push_back(std::move(pattern));
    } else {
        by_path_.push_back(std::move(pattern));
    }
}

void ExclusionList::Clear() {
    by_name_.clear();
    by_path_.clear();
}

bool ExclusionList::Excludes(std::string_view own_name, std::string_view relative_path) const {
    return AnyMatches(by_name_, own_name) || AnyMatches(by_path_, relative_path);
}

bool ExclusionList::ExcludesPath(std::string_view path) const {
    if (Empty()) return false;
    std::size_t start = 0;  // of the component looked at
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (Excludes(path.substr(start, end - start), path.substr(0, end))) return true;
        start = end + 1;
    }
    return false;
}

MemberChoice::MemberChoice(std::vector<std::string> names, ExclusionList excluded)
    : excluded_(std::move(excluded)) {
    for (std::string& typed : names) {
        std::string path = ComparablePath(typed);
        names_.push_back({std::move(typed), std::move(path), false});
    }
}

bool MemberChoice::Chooses(Named& named, std::string_view path) const {
    if (named.typed.empty()) return false;  // names nothing; "/" is the whole archive
    if (path == named.path) return true;
    if (path.size() > named.path.size() && path.substr(0, named.path.size()) == named.path &&
        (named.path.empty() || path[named.path.size()] == '/')) {
        return true;  // under it, as a directory
    }
    return IsPattern(named.path) && Matches(named.path, path);
}

bool MemberChoice::Takes(std::string_view program_name, std::string_view exact_name) {
    // The exact form, where there is one, is the name as it was: '/' is its
    // only separator. A name typed with a backslash may mean either, so the
    // program form, backslashes taken as separators, is tried as well.
    const std::string by_program = ComparablePath(program_name);
    const std::string by_exact =
        exact_name.empty() ? by_program : Trimmed(std::string(exact_name));
    if (excluded_.ExcludesPath(by_exact)) return false;
    if (names_.empty()) return true;
    bool taken = false;
    for (Named& named : names_) {
        if (Chooses(named, by_exact) || Chooses(named, by_program)) {
            named.found = true;
            taken = true;
        }
    }
    return taken;
}

std::vector<std::string> MemberChoice::NotFound() const {
    std::vector<std::string> not_found;
    for (const Named& named : names_) {
        if (!named.found) not_found.push_back(named.typed);
    }
    return not_found;
}

bool ReportNotFound(const MemberChoice& choice) {
    const std::vector<std::string> not_found = choice.NotFound();
    host::FlushOutput();  // the records' lines come first
    for (const std::string& name : not_found) {
        host::PrintError("varkel: " + name + ": not in the archive\n");
    }
    return !not_found.empty();
}

}  // namespace selection
