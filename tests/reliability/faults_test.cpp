// Faults from outside, injected into the real program: a full disk while
// packing and unpacking, the program killed in the middle of a pack, sources
// that change while they are packed, and a compression tool that is missing,
// fails or is killed. Whatever happens, the exit status says so, a clear
// line is printed, and no archive is left partial or lost.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/reader.h"
#include "archive_test_support.h"
#include "reliability_support.h"

namespace {

using namespace reliability;
using archive_testing::ArchiveTest;
using archive_testing::ParseArchive;
using archive_testing::StoredRecord;
using testing_support::CaptureStdout;
using testing_support::PatternBytes;

// Bytes that do not compress, so the compressed archive is larger than the archive.
std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

const std::vector<std::string> kPackJob = {"CHDIR_IN=src", "ADDDIR=src", "PACK=x.dat"};
const std::vector<std::string> kCompressedPackJob = {"COMPRESS=ON", "CHDIR_IN=src", "ADDDIR=src",
                                                     "PACK=x.dat"};
const std::vector<std::string> kUnpackJob = {"CHDIR_OUT=out", "UNPACK=x.dat"};
const std::vector<std::string> kCompressedUnpackJob = {"COMPRESS=ON", "CHDIR_OUT=out", "UNPACK=x.dat"};

// ---- A full disk ------------------------------------------------------------------------

TEST(FullDisk, EveryStageFailsCleanlyAndLosesNoArchive) {
    const std::string big = RandomBytes(300000, 7);
    // The archive of src/: header, then big.bin and small.
    const std::size_t archive_size = 12 + (8 + 7 + big.size()) + (8 + 5 + 5);
    const std::string old_archive = archive_testing::ArchiveHeader(1) +
                                    archive_testing::Record("old.txt", "old");
    struct Case {
        const char* label;
        std::vector<std::string> job;
        bool archive_made_first;   // x.dat packed before the faulty run
        bool compressed_first;     // ... and compressed
        bool old_archive_present;  // an old archive under the name
        rlim_t limit;
        std::vector<std::string> lines;  // each printed somewhere
        // What x.dat holds afterwards: "none", "archive" (the complete
        // uncompressed archive) or "unchanged" (as before the run).
        const char* archive_after;
        std::vector<std::string> restored;  // files complete under out/
    };
    const std::string cannot_write = "\n Error : Cannot Write Archive x.dat! \n";
    const std::vector<Case> cases = {
        {"pack: the archive outgrows the disk", kPackJob, false, false, false, 100000,
         {cannot_write, "File too large\n"}, "none", {}},
        {"pack over an old archive: it stays whole, nothing partial replaces it", kPackJob, false,
         false, true, 100000, {cannot_write, "File too large\n"}, "unchanged", {}},
        {"compressed pack: the archive fits, its compressed form does not", kCompressedPackJob,
         false, false, false, archive_size,
         {"\n Error : Compression Tool Failed On x.dat! \n"}, "none", {}},
        {"unpack: the first file outgrows the disk", kUnpackJob, true, false, false, 100000,
         {"\nCould not write `big.bin`\n\n Error : Partial File big.bin! \n"}, "unchanged", {}},
        {"unpack: a large limit restores everything", kUnpackJob, true, false, false, 1 << 20,
         {}, "unchanged", {"big.bin", "small"}},
        {"compressed unpack: the decompressed archive does not fit", kCompressedUnpackJob, true,
         true, false, 100000,
         {"\n Error : Compression Tool Failed On x.dat! \n", "\n Error : Not An Archive x.dat! \n"},
         "unchanged", {}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        fs::create_directory(scratch.Path("src"));
        WriteBytes(scratch.Path("src/big.bin"), big);
        WriteBytes(scratch.Path("src/small"), "small");
        fs::create_directory(scratch.Path("out"));
        WriteBytes(scratch.Path("sentinel"), "untouched");
        if (row.archive_made_first) {
            ASSERT_EQ(RunJob(scratch.path(), row.compressed_first ? kCompressedPackJob : kPackJob)
                          .exit_code, 0);
        }
        if (row.old_archive_present) WriteBytes(scratch.Path("x.dat"), old_archive);
        const std::string before = ReadBytes(scratch.Path("x.dat"));

        const Ended ended = RunJob(scratch.path(), row.job, Limits{row.limit});

        const bool fails = !row.lines.empty();
        EXPECT_EQ(ended.Describe(), fails ? "exit 2" : "exit 0") << ended.output;
        for (const std::string& line : row.lines) {
            EXPECT_NE(ended.output.find(line), std::string::npos) << line << "\n---\n" << ended.output;
        }
        const std::string archive_after = row.archive_after;
        if (archive_after == "none") {
            EXPECT_FALSE(fs::exists(scratch.Path("x.dat")));
        } else if (archive_after == "archive") {
            const auto parsed = ParseArchive(ReadBytes(scratch.Path("x.dat")));
            EXPECT_TRUE(parsed.well_formed);
            EXPECT_EQ(parsed.records,
                      (std::vector<StoredRecord>{{"big.bin", big}, {"small", "small"}}));
        } else {
            EXPECT_EQ(ReadBytes(scratch.Path("x.dat")), before);
        }
        EXPECT_TRUE(NamesStartingWith(scratch.path(), "x.dat.tmp").empty())
            << "a temporary archive was left behind";
        for (const std::string& name : row.restored) {
            EXPECT_EQ(ReadBytes(scratch.Path("out/" + name)), ReadBytes(scratch.Path("src/" + name)));
        }
        EXPECT_EQ(ReadBytes(scratch.Path("sentinel")), "untouched");
    }
    Figure("full disk", std::to_string(cases.size()) +
                            " runs under a file-size limit: 5 faults (pack, pack over an old archive, "
                            "compressed pack, unpack, compressed unpack) and a control run with room to spare");
}

// ---- The program killed in the middle of a pack -------------------------------------------

TEST(KilledMidPack, TheArchiveNameNeverHoldsAPartialArchive) {
    ScratchDir scratch;
    fs::create_directory(scratch.Path("src"));
    WriteBytes(scratch.Path("src/a-small"), "small");
    WriteBytes(scratch.Path("src/big"), "");
    fs::resize_file(scratch.Path("src/big"), std::uintmax_t{1} << 30);  // sparse: no room taken
    const std::string old_archive =
        archive_testing::ArchiveHeader(1) + archive_testing::Record("old.txt", "old");
    // The kill comes once the archive in the making has reached this size.
    const std::vector<std::uintmax_t> kill_points = {0, 12, 1 << 20, 64u << 20, 512u << 20};
    int leftovers = 0;
    for (const std::uintmax_t kill_at : kill_points) {
        SCOPED_TRACE("killed at " + std::to_string(kill_at) + " bytes");
        for (const std::string& name : NamesStartingWith(scratch.path(), "x.dat")) {
            fs::remove(scratch.Path(name));
        }
        WriteBytes(scratch.Path("x.dat"), old_archive);
        WriteBytes(scratch.Path("job.vkjob"), "CHDIR_IN=src\nADDDIR=src\nPACK=x.dat\n");
        Child child({Program(), "job.vkjob"}, scratch.path());
        const bool killed =
            SignalWhenFileReaches(child, scratch.path(), "x.dat.tmp", kill_at, SIGKILL);
        const Ended ended = child.Wait();
        ASSERT_TRUE(killed) << "the pack ended before the kill point: " << ended.Describe();
        EXPECT_EQ(ended.Describe(), "signal 9");
        // The old archive stays whole under its name until the new one is
        // complete and takes its place.
        EXPECT_EQ(ReadBytes(scratch.Path("x.dat")), old_archive);
        leftovers += static_cast<int>(NamesStartingWith(scratch.path(), "x.dat.tmp").size());
    }
    Figure("killed mid-pack", std::to_string(kill_points.size()) +
                                  " SIGKILLs while a 1 GiB file was packed (at 0 B, 12 B, 1 MiB, "
                                  "64 MiB, 512 MiB); the name kept the old archive whole; " +
                                  std::to_string(leftovers) +
                                  " temporary files (x.dat.tmp*) were left for the user to remove");
}

// ---- Sources that change while they are packed ---------------------------------------------

// Through the writer's seam: the source is cut or extended after it was
// measured, at sizes around the copy buffer's edges. The record keeps the
// measured size, the archive stays readable by the real reader, and the file
// after it comes out whole.
class ChangingSource : public ArchiveTest {};

TEST_F(ChangingSource, RecordKeepsItsMeasuredSizeAtEveryBufferEdge) {
    constexpr std::size_t kOriginal = 200000;  // a little over three copy buffers
    const std::string original = PatternBytes(kOriginal);
    const std::vector<off_t> new_sizes = {0,     1,     65535,  65536,  65537,       131072,
                                          199999, 200001, 265536, 200000 + (1 << 20)};
    for (const off_t new_size : new_sizes) {
        SCOPED_TRACE("changed to " + std::to_string(new_size) + " bytes");
        ResetJob();
        refresh_draw = 100;
        fs::remove_all(scratch.Path("out"));
        fs::create_directory(scratch.Path("out"));
        AddSource("changing", original, "changing.bin");
        AddSource("after", "after", "after.txt");
        const std::string changing = scratch.Path("src/changing");
        SetPackSourceHook([&](const std::string& source) {
            if (source != changing) return;
            if (new_size > static_cast<off_t>(kOriginal)) {
                WriteBytes(changing, original + std::string(new_size - kOriginal, 'g'));
            } else {
                ASSERT_EQ(truncate(changing.c_str(), new_size), 0);
            }
        });
        const std::string output = CaptureStdout([] { pack2files("a.vk"); });
        EXPECT_NE(output.find("\n Error : File Changed While Packing " +
                              scratch.ProgramPath("src/changing") + "! \n"),
                  std::string::npos)
            << output;
        EXPECT_EQ(RunOutcome(), Outcome::FileChanged);

        const std::string recorded =
            new_size >= static_cast<off_t>(kOriginal)
                ? original
                : original.substr(0, static_cast<std::size_t>(new_size)) +
                      std::string(kOriginal - static_cast<std::size_t>(new_size), '\0');
        const auto archive = ParseArchive(ArchiveBytes());
        EXPECT_TRUE(archive.well_formed);
        EXPECT_EQ(archive.records, (std::vector<StoredRecord>{{"changing.bin", recorded},
                                                              {"after.txt", "after"}}));
        // The real reader finds every record where the header says it is.
        ResetOutcome();
        DIR_OUT = scratch.ProgramPath("out\\restored") + "\\";
        (void)CaptureStdout([&] { unpackfiles(scratch.ProgramPath("out\\a.vk")); });
        fs::current_path(scratch.path());
        EXPECT_EQ(RunOutcome(), Outcome::Clean);
        EXPECT_EQ(ReadBytes(scratch.Path("out/restored/changing.bin")), recorded);
        EXPECT_EQ(ReadBytes(scratch.Path("out/restored/after.txt")), "after");
    }
    Figure("changing sources (seam)",
           std::to_string(new_sizes.size()) +
               " sizes a 200000-byte source was cut or grown to between measuring and copying "
               "(0 B to 1.2 MiB, at the 64 KiB buffer edges); each archive read back whole");
}

// Without a seam: files of the kernel's own file systems report a size that
// is not what they deliver. A /proc file says 0 bytes and delivers more (it
// "grew"); a /sys attribute says 4096 bytes and delivers a few (it "shrank").
TEST(ChangingSourceProgram, KernelFilesThatMisreportTheirSizeArePackedAsMeasured) {
    struct Case {
        const char* label;
        std::vector<std::string> candidates;
        bool grew;
    };
    const std::vector<Case> cases = {
        {"grew: /proc says 0 bytes", {"/proc/version", "/proc/self/status"}, true},
        {"shrank: /sys says 4096 bytes",
         {"/sys/kernel/profiling", "/sys/kernel/mm/transparent_hugepage/enabled", "/sys/power/state"},
         false},
    };
    int run = 0;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        std::string source;
        for (const std::string& candidate : row.candidates) {
            struct stat info {};
            if (stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            const std::string content = ReadBytes(candidate);
            const bool misreports = row.grew ? (info.st_size == 0 && !content.empty())
                                             : (info.st_size == 4096 && content.size() < 4096 &&
                                                !content.empty());
            if (misreports) {
                source = candidate;
                break;
            }
        }
        if (source.empty()) {
            std::printf("no such kernel file here: row skipped\n");
            continue;
        }
        ScratchDir scratch;
        struct stat info {};
        ASSERT_EQ(stat(source.c_str(), &info), 0);
        const Ended ended = RunJob(scratch.path(), {"ADDFILE=" + source + ",kernel.txt",
                                                    "ADDFILE=job.vkjob,after.txt", "PACK=x.dat"});
        ++run;
        EXPECT_EQ(ended.Describe(), "exit 1") << ended.output;
        EXPECT_NE(ended.output.find("\n Error : File Changed While Packing " +
                                    testing_support::ProgramForm(source) + "! \n"),
                  std::string::npos)
            << ended.output;
        const auto archive = ParseArchive(ReadBytes(scratch.Path("x.dat")));
        EXPECT_TRUE(archive.well_formed);
        ASSERT_EQ(archive.records.size(), 2u);
        EXPECT_EQ(archive.records[0].name, "kernel.txt");
        EXPECT_EQ(archive.records[0].data.size(), static_cast<std::size_t>(info.st_size));
        EXPECT_EQ(archive.records[1], (StoredRecord{"after.txt", ReadBytes(scratch.Path("job.vkjob"))}));
    }
    Figure("changing sources (program)",
           std::to_string(run) + " kernel files packed by the real program whose size changes "
                                 "between measuring and reading");
}

// ---- The compression tool missing, failing or killed ----------------------------------------

TEST(CompressionToolFaults, AClearLineAndNoArchiveLost) {
    struct Tool {
        const char* label;
        std::string script;  // empty: no tool at all
    };
    // What a tool that dies half-way leaves: the start of its result file.
    const std::string kPartialResult =
        "for a; do f=\"$a\"; done\n"
        "if [ \"$1\" = -z ]; then printf 'BZh91AY' > \"$f.bz2\"; else printf 'partial' > \"$f.out\"; fi\n";
    // A failing tool first leaves a partial result behind, as a real one
    // would when it dies half-way: it must never take the archive's place.
    const std::vector<Tool> tools = {
        {"missing", ""},
        {"not executable", "-"},
        {"fails", "#!/bin/sh\n" + kPartialResult + "exit 1\n"},
        {"killed", "#!/bin/sh\n" + kPartialResult + "kill -KILL $$\n"},
        {"reports success without a result", "#!/bin/sh\nexit 0\n"},
    };
    struct Course {
        const char* label;
        bool compressed_first;  // x.dat holds bzip2 data before the run
        std::vector<std::string> job;  // empty: "varkel x.dat" on the command line
        std::string failed_on;
    };
    const std::vector<Course> courses = {
        {"PACK with COMPRESS=ON", false, kCompressedPackJob, "x.dat"},
        {"UNPACK with COMPRESS=ON", true, kCompressedUnpackJob, "x.dat"},
        {"compressed archive named on the command line", true, {}, "x.dat"},
    };
    int runs = 0;
    for (const Tool& tool : tools) {
        for (const Course& course : courses) {
            SCOPED_TRACE(std::string(tool.label) + " tool, " + course.label);
            ScratchDir scratch;
            fs::create_directory(scratch.Path("src"));
            WriteBytes(scratch.Path("src/a.txt"), "alpha");
            WriteBytes(scratch.Path("src/b.bin"), PatternBytes(100000));
            fs::create_directory(scratch.Path("out"));
            // The archive as it should stay: made with the real tool.
            ASSERT_EQ(RunJob(scratch.path(), course.compressed_first ? kCompressedPackJob : kPackJob)
                          .exit_code, 0);
            fs::remove(scratch.Path("job.vkjob"));
            const std::string before = ReadBytes(scratch.Path("x.dat"));

            const std::string program = CopyProgramTo(scratch.path());
            if (tool.script == "-") {
                WriteBytes(scratch.Path(kToolName), "#!/bin/sh\nexit 0\n");
                fs::permissions(scratch.Path(kToolName), fs::perms::owner_read | fs::perms::owner_write);
            } else if (!tool.script.empty()) {
                WriteBytes(scratch.Path(kToolName), tool.script);
                fs::permissions(scratch.Path(kToolName), fs::perms::owner_all);
            }
            const Ended ended = course.job.empty()
                                    ? RunProgram({"x.dat"}, scratch.path(), {}, program)
                                    : RunJob(scratch.path(), course.job, {}, program);
            ++runs;

            EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
            EXPECT_NE(ended.output.find("\n Error : Compression Tool Failed On " + course.failed_on +
                                        "! \n"),
                      std::string::npos)
                << ended.output;
            EXPECT_EQ(ended.output.find("Renaming"), std::string::npos)
                << "a failed tool's result must not be renamed\n" << ended.output;
            // The archive under the name is the one from before the run, and
            // nothing the tool left behind is.
            EXPECT_EQ(ReadBytes(scratch.Path("x.dat")), before);
            EXPECT_EQ(NamesStartingWith(scratch.path(), "x.dat."), std::vector<std::string>{});
        }
    }
    Figure("compression tool faults",
           std::to_string(runs) + " runs: " + std::to_string(tools.size()) +
               " faulty tools (missing, not executable, exits 1, killed, exits 0 without a result) x " +
               std::to_string(courses.size()) +
               " courses (compressed pack, compressed unpack, compressed archive on the command line)");
}

}  // namespace
