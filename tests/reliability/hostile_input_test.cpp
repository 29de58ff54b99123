// Hostile and damaged archives given to the real program: a valid archive
// cut at every byte offset, thousands of random byte flips, stored names
// that try to climb out of the output directory, and links planted in the
// output directory that lead out of it. The program never crashes or hangs,
// never writes outside the output directory, and exits non-zero whenever a
// record is cut or damaged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive_test_support.h"
#include "reliability_support.h"

namespace {

using namespace reliability;
using archive_testing::ArchiveHeader;
using archive_testing::Record;
using testing_support::PatternBytes;
using testing_support::ProgramForm;

constexpr bool kSanitized = VARKEL_SANITIZED;

// A scratch tree for unpacking archives named on the command line:
//   root/sentinel, root/a/sentinel, root/a/b/sentinel  (must stay as they are)
//   root/a/b/out                                        (the output directory)
// The program runs in out/ with the archive's absolute path, so out/ is
// where it unpacks (no output directory is set on this course).
class Arena {
public:
    Arena() {
        fs::create_directories(scratch.Path("a/b/out"));
        for (const char* directory : {"", "a/", "a/b/"}) {
            WriteBytes(scratch.Path(std::string(directory) + "sentinel"), "sentinel");
        }
        before_ = Snapshots();
    }
    std::string Out() const { return scratch.Path("a/b/out"); }
    std::string ArchivePath() const { return scratch.Path("a/b/archive.vk"); }

    // Unpacks these bytes into a fresh out/ with the real program.
    Ended Unpack(const std::string& bytes) {
        fs::remove_all(Out());
        fs::create_directory(Out());
        WriteBytes(ArchivePath(), bytes);
        return RunProgram({ArchivePath()}, Out());
    }
    // True when nothing beside out/, up to the scratch root, changed.
    bool OutsideUntouched() const { return Snapshots() == before_; }
    std::string OutsideState() const {
        std::string text;
        const auto now = Snapshots();
        for (std::size_t i = 0; i < now.size(); ++i) {
            for (const auto& [name, what] : now[i]) {
                const auto was = before_[i].find(name);
                if (was == before_[i].end()) {
                    text += "new " + name + "; ";
                } else if (was->second != what) {
                    text += "changed " + name + " (" + was->second + " -> " + what + "); ";
                }
            }
            for (const auto& [name, what] : before_[i]) {
                if (now[i].count(name) == 0) text += "gone " + name + "; ";
            }
        }
        return text;
    }

    ScratchDir scratch;

private:
    // Every level, but for out/ itself (whose size as a directory changes),
    // the archive being read, and the tree the sample archive is packed from.
    std::vector<std::map<std::string, std::string>> Snapshots() const {
        std::vector<std::map<std::string, std::string>> levels;
        for (const char* directory : {"", "a", "a/b"}) {
            auto level = Snapshot(scratch.Path(directory));
            level.erase("out");
            level.erase("archive.vk");
            level.erase("made");  // where the sample archive is packed
            levels.push_back(level);
        }
        return levels;
    }
    std::vector<std::map<std::string, std::string>> before_;
};

// A small archive made by the real program from a tree with sub-directories,
// an empty file and a file larger than nothing.
std::string PackedSample(const std::string& directory) {
    fs::create_directories(directory + "/src/dir/deeper");
    WriteBytes(directory + "/src/a.txt", "alpha");
    WriteBytes(directory + "/src/dir/b.bin", PatternBytes(70));
    WriteBytes(directory + "/src/empty", "");
    WriteBytes(directory + "/src/dir/deeper/c.txt", "0123456789");
    const Ended packed = RunJob(directory, {"CHDIR_IN=src", "ADDDIR=src", "PACK=sample.vk"});
    EXPECT_EQ(packed.exit_code, 0) << packed.output;
    return ReadBytes(directory + "/sample.vk");
}

// Where each record of a sound archive ends, and its name and data.
struct RecordSpan {
    std::size_t end;
    std::string name;
    std::string data;
};
std::vector<RecordSpan> RecordSpans(const std::string& bytes) {
    std::vector<RecordSpan> spans;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const auto data_size = static_cast<std::size_t>(Int32At(bytes, at));
        const auto name_length = static_cast<std::size_t>(Int32At(bytes, at + 4));
        const std::string name = bytes.substr(at + 8, name_length);
        const std::string data = bytes.substr(at + 8 + name_length, data_size);
        at += 8 + name_length + data_size;
        spans.push_back({at, name, data});
    }
    return spans;
}

std::string HostForm(std::string name) {
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return name;
}

// ---- Truncation at every byte offset -----------------------------------------------------

TEST(Truncation, EveryOffsetOfAValidArchive) {
    Arena arena;
    const std::string sample = PackedSample(arena.scratch.Path("made"));
    const std::vector<RecordSpan> spans = RecordSpans(sample);
    ASSERT_EQ(spans.size(), 4u);
    ASSERT_EQ(spans.back().end, sample.size());
    for (std::size_t length = 0; length <= sample.size(); ++length) {
        SCOPED_TRACE("cut after " + std::to_string(length) + " of " + std::to_string(sample.size()) +
                     " bytes");
        const Ended ended = arena.Unpack(sample.substr(0, length));
        bool at_boundary = length == 12;
        for (const RecordSpan& span : spans) at_boundary = at_boundary || span.end == length;
        EXPECT_EQ(ended.Describe(), at_boundary ? "exit 0" : "exit 2") << ended.output;
        if (length < 12) {
            EXPECT_NE(ended.output.find("Not An Archive"), std::string::npos) << ended.output;
        } else if (!at_boundary) {
            EXPECT_NE(ended.output.find("Truncated Archive"), std::string::npos) << ended.output;
        }
        // Every record that lies wholly before the cut comes out whole.
        for (const RecordSpan& span : spans) {
            if (span.end > length) break;
            EXPECT_EQ(ReadBytes(arena.Out() + "/" + HostForm(span.name)), span.data) << span.name;
        }
        ASSERT_TRUE(arena.OutsideUntouched()) << arena.OutsideState();
    }
    // The same archive compressed, cut at a spread of offsets: the tool
    // fails, the program says so, and nothing is unpacked from half an archive.
    WriteBytes(arena.scratch.Path("made/job.vkjob"), "COMPRESS=ON\nCHDIR_IN=src\nADDDIR=src\nPACK=sample.bz\n");
    ASSERT_EQ(RunProgram({"job.vkjob"}, arena.scratch.Path("made")).exit_code, 0);
    const std::string compressed = ReadBytes(arena.scratch.Path("made/sample.bz"));
    ASSERT_EQ(compressed.substr(0, 2), "BZ");
    int compressed_cuts = 0;
    for (std::size_t length = 2; length < compressed.size(); length += compressed.size() / 8) {
        SCOPED_TRACE("compressed archive cut after " + std::to_string(length) + " bytes");
        const Ended ended = arena.Unpack(compressed.substr(0, length));
        ++compressed_cuts;
        EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
        EXPECT_NE(ended.output.find("Compression Tool Failed"), std::string::npos) << ended.output;
        EXPECT_TRUE(fs::is_empty(arena.Out()));
        ASSERT_TRUE(arena.OutsideUntouched()) << arena.OutsideState();
    }
    Figure("truncation", std::to_string(sample.size() + 1) + " cuts of a " +
                             std::to_string(sample.size()) + "-byte, 4-record archive (every offset) and " +
                             std::to_string(compressed_cuts) + " cuts of its compressed form");
}

// ---- Random byte flips ---------------------------------------------------------------------

TEST(ByteFlips, ThousandsOfDamagedArchives) {
    Arena arena;
    const std::string sample = PackedSample(arena.scratch.Path("made"));
    const int rounds = kSanitized ? 300 : 3000;
    std::mt19937 generator(20240611);
    int broken = 0;
    int sound = 0;
    int failed_exits = 0;
    for (int round = 0; round < rounds; ++round) {
        std::string damaged = sample;
        const int flips = 1 + static_cast<int>(generator() % 3);
        std::string where;
        for (int i = 0; i < flips; ++i) {
            // Half of the flips hit the headers, where they do the most harm.
            const std::size_t position = generator() % 2 == 0 ? generator() % 40
                                                                : generator() % damaged.size();
            const auto mask = static_cast<char>(1 + generator() % 255);
            damaged[position] = static_cast<char>(damaged[position] ^ mask);
            where += " " + std::to_string(position);
        }
        SCOPED_TRACE("round " + std::to_string(round) + ", bytes flipped at" + where);
        const Ended ended = arena.Unpack(damaged);
        ASSERT_TRUE(ended.exited) << ended.Describe() << "\n" << ended.errors;
        ASSERT_TRUE(ended.exit_code == 0 || ended.exit_code == 2) << ended.Describe();
        const Verdict verdict = Judge(damaged);
        if (verdict == Verdict::Broken || verdict == Verdict::NotAnArchive) {
            ++broken;
            ASSERT_EQ(ended.exit_code, 2) << "a cut or damaged record went unreported\n" << ended.output;
        } else {
            ++sound;
        }
        if (ended.exit_code != 0) ++failed_exits;
        ASSERT_TRUE(arena.OutsideUntouched()) << arena.OutsideState();
    }
    Figure("byte flips", std::to_string(rounds) + " archives with 1 to 3 random bytes flipped (seed 20240611): " +
                             std::to_string(broken) + " cut or damaged (all exited 2), " +
                             std::to_string(sound) + " still well-formed; " +
                             std::to_string(failed_exits) + " non-zero exits in all; no crash, hang or write outside");
}

// ---- Hostile stored names --------------------------------------------------------------------

TEST(HostileNames, NothingOutsideTheOutputDirectoryIsTouched) {
    Arena arena;
    const std::string absolute = arena.scratch.Path("a/b/sentinel");
    std::vector<std::string> names = {
        "..\\sentinel", "../sentinel", "..\\..\\sentinel", "../../../sentinel",
        "sub\\..\\..\\sentinel", "sub/..\\../sentinel", "a\\b\\..\\..\\..\\sentinel",
        "..", "..\\", "sub\\..", "sub/..", "sub\\..\\",
        "\\sentinel", "/sentinel", "\\\\sentinel", absolute, ProgramForm(absolute),
        "/../sentinel", "\\..\\sentinel",
        "C:\\sentinel", "c:/sentinel", "C:sentinel", "C:..\\sentinel", "C:\\..\\sentinel",
        "\\\\server\\share\\sentinel", "//server/share/../../sentinel",
        "", "\\", "/", ".", ".\\", ".\\..\\sentinel", "...", "...\\sentinel",
        "sentinel", "dir\\sentinel",
    };
    // Names extended by an exact form, which the reader creates as it is.
    for (const auto& [program, exact] : std::vector<std::pair<std::string, std::string>>{
             {"..\\sentinel", "../sentinel"},
             {"..\\sentinel", "..\\sentinel"},
             {"a\\b\\..\\..\\..\\sentinel", "a\\b/../../../sentinel"},
             {"\\..\\sentinel", "/../sentinel"},
             {ProgramForm(absolute), absolute},
             {"C:\\..\\sentinel", "C:/../sentinel"},
             {"x\\..\\sentinel", "x/..\\sentinel"},
         }) {
        names.push_back(program + std::string(1, '\0') + exact);
    }
    for (const std::string& name : names) {
        SCOPED_TRACE("stored name `" + name + "`");
        const Ended ended =
            arena.Unpack(ArchiveHeader(2) + Record(name, "evil") + Record("after.txt", "fine"));
        ASSERT_TRUE(ended.exited) << ended.Describe();
        EXPECT_TRUE(ended.exit_code == 0 || ended.exit_code == 2) << ended.Describe();
        EXPECT_EQ(ReadBytes(arena.Out() + "/after.txt"), "fine") << ended.output;
        EXPECT_TRUE(arena.OutsideUntouched()) << arena.OutsideState() << "\n" << ended.output;
    }
    Figure("hostile names", std::to_string(names.size()) +
                                " stored names ('..' at start, middle and end, both separators, "
                                "absolute, drive letters, UNC, empty) with sentinels on three levels above the output");
}

// ---- Links planted in the output directory ----------------------------------------------------

TEST(PlantedLinks, TheReaderNeverWritesThroughALink) {
    struct Case {
        const char* label;
        std::function<void(const std::string& out, const std::string& outside)> plant;
        std::string stored_name;
        bool written;  // the record is written inside the output directory
    };
    const std::vector<Case> cases = {
        {"a link to a file outside, named like the record",
         [](const std::string& out, const std::string& outside) {
             fs::create_symlink(outside + "/target", out + "/evil");
         },
         "evil", true},
        {"a link to a directory outside, named like the record",
         [](const std::string& out, const std::string& outside) {
             fs::create_directory_symlink(outside, out + "/evil");
         },
         "evil", true},
        {"a broken link pointing outside, named like the record",
         [](const std::string& out, const std::string& outside) {
             fs::create_symlink(outside + "/would-be-created", out + "/evil");
         },
         "evil", true},
        {"a hard link to a file outside, named like the record",
         [](const std::string& out, const std::string& outside) {
             fs::create_hard_link(outside + "/target", out + "/evil");
         },
         "evil", true},
        {"a directory part that is a link to outside",
         [](const std::string& out, const std::string& outside) {
             fs::create_directory_symlink(outside, out + "/sub");
         },
         "sub\\target", false},
        {"a deeper directory part that is a link to outside",
         [](const std::string& out, const std::string& outside) {
             fs::create_directories(out + "/real");
             fs::create_directory_symlink(outside, out + "/real/sub");
         },
         "real/sub\\new\\f.txt", false},
        {"a directory part that is a broken link",
         [](const std::string& out, const std::string& outside) {
             fs::create_directory_symlink(outside + "/missing", out + "/sub");
         },
         "sub\\f.txt", false},
        {"a relative link that climbs out",
         [](const std::string& out, const std::string&) {
             fs::create_directory_symlink("../..", out + "/up");
         },
         "up\\sentinel", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        const std::string outside = scratch.Path("outside");
        const std::string out = scratch.Path("work/out");
        fs::create_directories(outside);
        fs::create_directories(out);
        WriteBytes(outside + "/target", "outside, untouched");
        WriteBytes(scratch.Path("sentinel"), "sentinel");
        // Taken before the planting: a hard link raises the target's link
        // count until the reader replaces it.
        const auto outside_before = Snapshot(outside);
        row.plant(out, outside);
        const auto root_before = Snapshot(scratch.path());
        WriteBytes(scratch.Path("work/x.vk"),
                   ArchiveHeader(2) + Record(row.stored_name, "evil") + Record("after.txt", "fine"));

        const Ended ended = RunJob(scratch.Path("work"), {"CHDIR_OUT=out", "UNPACK=x.vk"});

        EXPECT_EQ(Snapshot(outside), outside_before) << ended.output;
        EXPECT_EQ(ReadBytes(outside + "/target"), "outside, untouched");
        EXPECT_EQ(Snapshot(scratch.path()), root_before);
        EXPECT_EQ(ReadBytes(out + "/after.txt"), "fine");
        if (row.written) {
            EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
            struct stat info {};
            ASSERT_EQ(lstat((out + "/" + HostForm(row.stored_name)).c_str(), &info), 0);
            EXPECT_TRUE(S_ISREG(info.st_mode)) << "the link was followed instead of replaced";
            EXPECT_EQ(info.st_nlink, 1u);
            EXPECT_EQ(ReadBytes(out + "/" + HostForm(row.stored_name)), "evil");
        } else {
            EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
            EXPECT_NE(ended.output.find("\nCould not write `" + row.stored_name + "`\n"),
                      std::string::npos)
                << ended.output;
        }
    }
    Figure("planted links", std::to_string(cases.size()) +
                                " links planted in the output directory (file, directory, broken, "
                                "hard link, link as a directory part); none was written through");
}

// ---- Folders a normal user may not write ------------------------------------------------

// As a normal user, into an output tree with a read-only folder: the files
// that cannot be made there are each reported and the run fails; the others
// come back, and a second run of the same job replaces them.
TEST(ReadOnlyOutput, FilesThatCannotBeMadeAreEachReported) {
    ScratchDir scratch;
    fs::permissions(scratch.path(), fs::perms::all);
    const std::string out = scratch.Path("out");
    fs::create_directories(out + "/locked");
    fs::permissions(out, fs::perms::all);
    fs::permissions(out + "/locked", fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
    WriteBytes(scratch.Path("x.vk"),
               ArchiveHeader(4) + Record("a.txt", "alpha") + Record("locked\\b.txt", "beta") +
                   Record("locked\\new\\c.txt", "gamma") + Record("d.txt", "delta"));
    WriteBytes(scratch.Path("job.vkjob"), "CHDIR_OUT=out\nUNPACK=x.vk\n");
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const Ended ended = RunProgram({"job.vkjob"}, scratch.path(), Limits{.file_size = std::nullopt, .user = kNobody});
        EXPECT_EQ(ended.Describe(), "exit 2") << ended.output << ended.errors;
        EXPECT_NE(ended.output.find(".\nCould not write `locked\\b.txt`\n"
                                    "\nCould not write `locked\\new\\c.txt`\n."),
                  std::string::npos)
            << ended.output;
        EXPECT_EQ(ReadBytes(out + "/a.txt"), "alpha");
        EXPECT_EQ(ReadBytes(out + "/d.txt"), "delta");
        EXPECT_TRUE(fs::is_empty(out + "/locked"));
    }
}

// ---- Attribute text -------------------------------------------------------------------

namespace {

std::string WithAttributes(const std::string& program, const std::string& exact,
                           const std::string& text) {
    return program + std::string(1, '\0') + exact + std::string(1, '\0') + text;
}

}  // namespace

// Records with attribute text that try to reach outside, to replace the
// archive, or to set what must not be set. Each has its expected result,
// and nothing outside the output directory changes.
TEST(HostileAttributes, EachRecordHasItsExpectedResult) {
    struct Case {
        const char* label;
        std::string records;  // after the header
        int records_count;
        int exit_code;
        std::function<void(const std::string& out, const Ended& ended)> check;
    };
    const std::string file_text = "mode=644 mtime=1000000000.5";
    const std::vector<Case> cases = {
        {"a link record, then a file beneath it",
         Record(WithAttributes("lnk", "lnk", "mode=777 mtime=1 type=link link=../../.."), "") +
             Record(WithAttributes("lnk\\sentinel", "lnk/sentinel", file_text), "evil"),
         2, 2,
         [](const std::string& out, const Ended& ended) {
             EXPECT_TRUE(fs::is_symlink(out + "/lnk"));
             EXPECT_NE(ended.output.find("\nCould not write `lnk\\sentinel`\n"), std::string::npos)
                 << ended.output;
         }},
        {"a sticky set-user-ID mode",
         Record(WithAttributes("f", "f", "mode=7777 mtime=1000000000"), "data"), 1, 0,
         [](const std::string& out, const Ended&) {
             struct stat info {};
             ASSERT_EQ(lstat((out + "/f").c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 07777, 01777u);
             EXPECT_EQ(info.st_mtime, 1000000000);
         }},
        {"a time no file system holds",
         Record(WithAttributes("f", "f", "mode=600 mtime=100000000000000000000"), "data"), 1, 0,
         [](const std::string& out, const Ended&) {
             struct stat info {};
             ASSERT_EQ(lstat((out + "/f").c_str(), &info), 0);
             EXPECT_EQ(info.st_mode & 07777, 0600u);
             EXPECT_GT(info.st_mtime, 1700000000);  // left as the unpack made it
         }},
        {"a malformed attribute text",
         Record(WithAttributes("f", "f", "mode=9x mtime=abc junk =1 link=\\q"), "data"), 1, 0,
         [](const std::string& out, const Ended&) {
             EXPECT_EQ(ReadBytes(out + "/f"), "data");
         }},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        Arena arena;
        const std::string archive = ArchiveHeader(row.records_count) + row.records;
        const Ended ended = arena.Unpack(archive);
        EXPECT_EQ(ended.Describe(), "exit " + std::to_string(row.exit_code)) << ended.output;
        row.check(arena.Out(), ended);
        EXPECT_TRUE(arena.OutsideUntouched()) << arena.OutsideState() << "\n" << ended.output;
    }
}

TEST(HostileAttributes, MalformedTextIsReportedByTest) {
    ScratchDir scratch;
    WriteBytes(scratch.Path("x.vk"),
               ArchiveHeader(1) + Record(WithAttributes("f", "f", "mode=9x mtime=1 junk"), "d"));
    const Ended ended = RunProgram({"--test", "x.vk"}, scratch.path());
    EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
    EXPECT_NE(ended.output.find("byte 12: attribute `mode=9x' of `f' cannot be read\n"),
              std::string::npos)
        << ended.output;
    EXPECT_NE(ended.output.find("byte 12: attribute `junk' of `f' cannot be read\n"),
              std::string::npos)
        << ended.output;
}

// A link record named like the archive being read, in the output directory:
// the archive stays, the record is not written.
TEST(HostileAttributes, ALinkNamedLikeTheArchiveLeavesIt) {
    ScratchDir scratch;
    const std::string archive =
        ArchiveHeader(2) +
        Record(WithAttributes("x.vk", "x.vk", "mode=777 mtime=1 type=link link=elsewhere"), "") +
        Record("after.txt", "fine");
    WriteBytes(scratch.Path("x.vk"), archive);
    const Ended ended = RunProgram({"x.vk"}, scratch.path());
    EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
    EXPECT_NE(ended.output.find("\nCould not write `x.vk`\n"), std::string::npos) << ended.output;
    EXPECT_FALSE(fs::is_symlink(scratch.Path("x.vk")));
    EXPECT_EQ(ReadBytes(scratch.Path("x.vk")), archive);
    EXPECT_EQ(ReadBytes(scratch.Path("after.txt")), "fine");
}

}  // namespace
