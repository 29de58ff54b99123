#include "archive/job_paths.h"

#include <optional>

#include "archive/job_state.h"
#include "host/host.h"

namespace {

// The directory that was current when a setting got its text.
struct Anchor {
    std::string text;             // the setting's text at that moment
    std::string directory;        // the current directory then, absolute, program form
    host::FileIdentity identity;  // and which directory that was
};

std::optional<Anchor> input_anchor;
std::optional<Anchor> output_anchor;

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '\\'; }

std::optional<Anchor> AnchorHere(const std::string& text) {
    auto directory = host::CurrentDirectory();
    auto identity = host::IdentityOf(std::string("."));
    if (!directory || !identity) return std::nullopt;  // taken from wherever the job is then
    return Anchor{text, directory.value(), identity.value()};
}

// Whether the current directory is still the anchor's, so that a relative
// path reaches from here what it reached when the setting was made.
bool StillCurrent(const Anchor& anchor) {
    auto identity = host::IdentityOf(std::string("."));
    return identity && identity.value() == anchor.identity;
}

JobPath Resolve(const std::string& setting, const std::optional<Anchor>& anchor,
                const std::string& word) {
    JobPath job_path;
    job_path.shown = IsAbsolute(word) ? word : setting + word;
    job_path.path = job_path.shown;
    // A setting changed without its command (a run that never set it) has
    // no anchor of its own: it is taken from the current directory.
    if (IsAbsolute(job_path.shown) || !anchor || anchor->text != setting || StillCurrent(*anchor)) {
        return job_path;
    }
    const bool ends_in_separator = !anchor->directory.empty() && anchor->directory.back() == '\\';
    job_path.path = anchor->directory + (ends_in_separator ? "" : "\\") + job_path.shown;
    return job_path;
}

}  // namespace

void AnchorInputDirectory() { input_anchor = AnchorHere(DIR_IN); }

void AnchorOutputDirectory() { output_anchor = AnchorHere(DIR_OUT); }

JobPath OutputArchivePath(const std::string& word) { return Resolve(DIR_OUT, output_anchor, word); }

JobPath InputArchivePath(const std::string& word) { return Resolve(DIR_IN, input_anchor, word); }

JobPath OutputDirectoryPath() { return Resolve(DIR_OUT, output_anchor, ""); }
