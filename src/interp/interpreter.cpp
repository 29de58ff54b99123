#include "interp/interpreter.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

#include "archive/attributes.h"
#include "archive/format.h"
#include "archive/job_paths.h"
#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/reader.h"
#include "archive/writer.h"
#include "compress/bzip2_bridge.h"
#include "host/host.h"
#include "interp/advice.h"
#include "interp/dir_walker.h"
#include "paths/path_helpers.h"
#include "script/line_store.h"
#include "script/word_separator.h"

namespace {

enum class Keyword {
    BeginList,
    PreserveDirectoryTree,
    Attributes,
    Verbose,
    Silent,
    AddFile,
    AddDir,
    AddOnlyDir,
    ChDir,
    ChDirOut,
    ChDirIn,
    Pack,
    Unpack,
    Compress,
    Optimize,
    Print,
    Exclude,
    None,
};

struct KeywordName {
    const char* text;
    Keyword keyword;
};

// In the order they are tried; letter case is ignored.
constexpr std::array<KeywordName, 17> kKeywords{{
    {"BEGINLIST", Keyword::BeginList},
    {"PRESERVE_DIRECTORY_TREE", Keyword::PreserveDirectoryTree},
    {"ATTRIBUTES", Keyword::Attributes},
    {"VERBOSE", Keyword::Verbose},
    {"SILENT", Keyword::Silent},
    {"ADDFILE", Keyword::AddFile},
    {"ADDDIR", Keyword::AddDir},
    {"ADDONLYDIR", Keyword::AddOnlyDir},
    {"CHDIR", Keyword::ChDir},
    {"CHDIR_OUT", Keyword::ChDirOut},
    {"CHDIR_IN", Keyword::ChDirIn},
    {"PACK", Keyword::Pack},
    {"UNPACK", Keyword::Unpack},
    {"COMPRESS", Keyword::Compress},
    {"OPTIMIZE", Keyword::Optimize},
    {"PRINT", Keyword::Print},
    {"EXCLUDE", Keyword::Exclude},
}};

// The keywords' texts alone, in the order they are tried, for advice.
constexpr std::array<const char*, kKeywords.size()> KeywordTexts() {
    std::array<const char*, kKeywords.size()> texts{};
    for (std::size_t i = 0; i < kKeywords.size(); ++i) texts[i] = kKeywords[i].text;
    return texts;
}
constexpr std::array<const char*, kKeywords.size()> kKeywordTexts = KeywordTexts();

// The job script being run, for the advice lines that name it.
std::string running_script;

void Advise(const std::string& text) { AdviseOnLine(running_script, GetScriptPointer(), text); }

void AdviseIfMisspelt(const std::string& word) {
    if (auto meant = MeantKeyword(word, kKeywordTexts)) {
        Advise("`" + word + "' is not a command (did you mean " + std::string(*meant) + "?)");
    }
}

// An empty directory word is the root directory, which is rarely meant.
void AdviseIfRoot(const std::string& word) {
    if (word.empty()) Advise("empty directory: this is the root directory /");
}

Keyword ParseKeyword(const std::string& word) {
    for (const KeywordName& name : kKeywords) {
        if (EqualIgnoreCase(word, name.text)) return name.keyword;
    }
    return Keyword::None;
}

// A path word typed on this host, in the program's form.
std::string PathWord(std::int32_t slot) { return host::FromHostPath(get_memory(slot)); }

void Fail(const std::string& line) {
    host::Print(line);
    ReportOutcome(Outcome::Failed);
}

// ON gives true, OFF false, anything else nothing.
std::optional<bool> OnOff(const std::string& word) {
    if (EqualIgnoreCase(word, "ON")) return true;
    if (EqualIgnoreCase(word, "OFF")) return false;
    return std::nullopt;
}

// An ON/OFF setting of the job; any other word changes nothing and is reported.
void SetOnOff(const char* keyword, bool& setting) {
    const std::string value = get_memory(2);
    if (auto on = OnOff(value)) {
        setting = *on;
    } else {
        Fail("Error in script , " + std::string(keyword) + " has incorrect value (" + value + "\n");
    }
}

// ADDFILE with ATTRIBUTES on: a link is stored as the link, never followed;
// the writer takes each file's attributes as it packs it.
bool AddLinkWithAttributes(const std::string& source, const std::string& stored_name) {
    const host::HostPath host_source{host::ToHostPath(source)};
    auto info = host::ExamineName(host_source);
    if (!info || !info.value().is_link) return false;
    system_add_file(host_source.text,
                    attributes::RequestField(host::ToHostPath(stored_name), attributes::Kind::Link),
                    0);
    return true;
}

void RunAddFile() {
    const std::string source = PathWord(2);
    const std::string stored_name = PathWord(3);
    if (store_attributes && AddLinkWithAttributes(source, stored_name)) return;
    auto file = host::File::OpenForReading(source);
    auto size = file ? file.value().Size() : host::Result<std::int64_t>(file.error());
    if (!size) {
        Fail("\n Error : Cannot Open File " + source + "! \n");
    } else if (size.value() > archive_format::kMaxDataSize) {
        Fail("\n Error : File Too Large For Archive " + source + "! \n");
    } else {
        // Listed in host form; a backslash typed here was a separator.
        system_add_file(host::ToHostPath(source),
                        store_attributes ? attributes::RequestField(host::ToHostPath(stored_name),
                                                                    attributes::Kind::File)
                                         : stored_name,
                        static_cast<std::int32_t>(size.value()));
    }
}

void RunAddDir(bool recurse) {
    host::Print(recurse ? "\nAdding a Directory complete with it`s Sub-Directories!\n"
                        : "\nAdding a single Directory!\n");
    add_a_dir(DIR_IN, PathWord(2), recurse);
}

// EXCLUDE=pattern adds to what the directory walks leave out; EXCLUDE=
// with an empty word forgets every pattern.
void RunExclude() {
    const std::string pattern = get_memory(2);
    if (pattern.empty()) {
        ClearWalkExclusions();
    } else {
        ExcludeFromWalks(pattern);
    }
}

void RunChDir() {
    AdviseIfRoot(get_memory(2));
    const std::string directory = PathWord(2);
    host::Print("Change Working Directory " + directory + "\n");
    if (!host::ChangeDirectory(directory)) {
        Fail("\n Error : Cannot Change Directory To " + directory + "! \n");
    }
    DIR_IN = directory;
    DIR_OUT = directory;
    // Relative to the directory just entered, where later lines find them.
    AnchorInputDirectory();
    AnchorOutputDirectory();
}

void RunChDirOut() {
    AdviseIfRoot(get_memory(2));
    DIR_OUT = PathWord(2);
    FixDir(DIR_OUT);
    AnchorOutputDirectory();
    host::Print("Change Output Directory to " + DIR_OUT + "\n");
}

void RunChDirIn() {
    AdviseIfRoot(get_memory(2));
    DIR_IN = PathWord(2);
    FixDir(DIR_IN);
    AnchorInputDirectory();
    host::Print("Change Input Directory to " + DIR_IN + "\n");
}

// Tells whether an archive of the same name will be replaced. Nothing is
// deleted here: the old archive stays whole until the new one is complete
// and takes its place in one rename. "Deleted" says that this rename will be
// allowed, which the folder's permissions decide.
void AnnounceOverwrite(const std::string& name, const JobPath& target) {
    if (!host::File::OpenForReading(target.path)) {
        host::Print("NO OVERWRITE \n");
        return;
    }
    host::Print("OVERWRITE , DELETING !!!!\n");
    if (host::MayReplaceInFolder(ArchiveDestination(target.path))) {
        host::Print("Deleted file " + target.shown + "!!  \n");
    } else {
        host::Print("Could not delete file " + name + "!!  \n");
    }
}

void RunPack() {
    const std::string name = PathWord(2);
    const JobPath target = OutputArchivePath(name);
    host::Print("Packing archive to file " + name + "\n");
    if (RefuseSpecialTarget(target)) return;
    AnnounceOverwrite(name, target);
    refresh_draw = actions_size / 100;
    // The archive is complete in its temporary file; compressed there when
    // asked, it takes the archive's name in one rename. After any failure
    // the name still holds the old archive.
    std::optional<PackedArchive> packed = PackToTemporary(name);
    if (!packed) return;
    if (compression && !CompressPackedArchive(*packed)) return;
    if (packed->Commit() && compression) AnnounceRename(target.shown + ".bz2", target.shown);
}

// With compression on, an archive of bzip2 data is decompressed into a
// private file and read from there; any other archive is read as it is, so a
// restore job can run again after it has left the archive decompressed.
void UnpackMaybeCompressed(const JobPath& archive) {
    if (host::File::OpenForReading(archive.path) && !is_BZ2(archive.path)) {
        host::Print("\n" + archive.shown + " is not compressed: unpacking it as it is\n");
        unpack_archive_at(archive);
        return;
    }
    UnpackCompressed(archive.shown, archive.path);
}

void RunUnpack() {
    const std::string name = PathWord(2);
    const JobPath archive = InputArchivePath(name);
    host::Print("Unpacking file " + name + "\n");
    // After a failed tool the compressed archive stays as it was.
    if (compression) {
        UnpackMaybeCompressed(archive);
    } else {
        unpack_archive_at(archive);
    }
}

void RunCompress() {
    if (auto on = OnOff(get_memory(2))) Toggle_Compressed(*on);
}

void RunOptimize() {
    if (!EqualIgnoreCase(get_memory(2), "SIZE")) return;
    host::Print("Optimizing , filesizes\n");
    Sort_Files_Small_First();
}

void RunLine(const std::string& line) {
    if (std::strlen(line.c_str()) > kMaxSplitLength) {
        Advise("line longer than " + std::to_string(kMaxSplitLength) +
               " characters; the rest is not read");
    }
    seperate_words(line);
    switch (ParseKeyword(get_memory(1))) {
        case Keyword::BeginList: actions_point = actions_size = 0; break;
        case Keyword::PreserveDirectoryTree: SetOnOff("PRESERVE_DIRECTORY_TREE", preserve_directory_tree); break;
        case Keyword::Attributes: SetOnOff("ATTRIBUTES", store_attributes); break;
        case Keyword::Verbose: (void)host::AttachOutput(); break;
        case Keyword::Silent: (void)host::DetachOutput(); break;
        case Keyword::AddFile: RunAddFile(); break;
        case Keyword::AddDir: RunAddDir(true); break;
        case Keyword::AddOnlyDir: RunAddDir(false); break;
        case Keyword::ChDir: RunChDir(); break;
        case Keyword::ChDirOut: RunChDirOut(); break;
        case Keyword::ChDirIn: RunChDirIn(); break;
        case Keyword::Pack: RunPack(); break;
        case Keyword::Unpack: RunUnpack(); break;
        case Keyword::Compress: RunCompress(); break;
        case Keyword::Optimize: RunOptimize(); break;
        case Keyword::Print: host::Print(get_memory(2) + "\n"); break;
        case Keyword::Exclude: RunExclude(); break;
        case Keyword::None: AdviseIfMisspelt(get_memory(1)); break;  // free text, comments, misspellings
    }
}

// Reports a script that could not be opened, was too large to load or was
// cut by the line store.
void ReportScriptLoad(const std::string& path, bool report_missing_script) {
    if (GetScriptSize() == 0) {  // a loaded script has at least one line
        if (GetScriptError() == kScriptTooLarge) {
            Fail("\n Error : Script Too Large " + path + "! \n");
        } else if (report_missing_script) {
            Fail("\n Error : Cannot Open Script " + path + "! \n");
        }
    } else if (GetScriptSize() == kMaxScriptLines && GetScriptError() == kScriptTooLong) {
        Fail(std::string(kScriptTooLong) + "\n");
    }
}

}  // namespace

void create_actions_from_script(std::string path, bool report_missing_script) {
    actions_point = 0;
    actions_size = 0;
    running_script = path;
    ClearWalkExclusions();  // every job starts with none
    // Directories the job has not set are taken from where it starts.
    AnchorInputDirectory();
    AnchorOutputDirectory();
    ReadScript(path);
    ReportScriptLoad(path, report_missing_script);
    while (!ScriptEOF()) {
        const std::string line = ReturnScriptLine();
        ContinueScript();
        RunLine(line);
    }
    host::FlushOutput();
}
