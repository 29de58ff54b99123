#include "host/host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

using testing_support::CaptureStdout;
using testing_support::PatternBytes;
using testing_support::ProgramForm;
using testing_support::ReadBytes;
using testing_support::ScopedCurrentDirectory;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// Leaves a bound Unix socket at the path, the way a running service would.
void MakeSocket(const std::string& host_path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(host_path.size(), sizeof(address.sun_path));
    std::strcpy(address.sun_path, host_path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(fd);
}

std::string KindName(host::EntryKind kind) {
    switch (kind) {
        case host::EntryKind::Directory: return "directory";
        case host::EntryKind::RegularFile: return "file";
        case host::EntryKind::Other: return "other";
    }
    return "?";
}

// Every entry of a listing as "name kind size", in the order given, with
// the failed call of an entry that could not be examined.
std::vector<std::string> ListAll(const std::string& host_directory) {
    auto listing = host::DirectoryListing::Open(host_directory);
    EXPECT_TRUE(listing.ok()) << listing.error().Text();
    std::vector<std::string> lines;
    if (!listing) return lines;
    for (const host::DirEntry& entry : listing.value().entries()) {
        lines.push_back(entry.name + " " + KindName(entry.kind) + " " + std::to_string(entry.size) +
                        (entry.error ? " " + entry.error->Text() : ""));
    }
    return lines;
}

// A path that an operation must refuse, and the errno it must give.
struct FailingPath {
    std::string path;
    int code;
};

// Each path must be refused with its errno, and the failed call named.
void ExpectRefused(host::Status (*operation)(const std::string&),
                   const std::vector<FailingPath>& rows) {
    for (const FailingPath& row : rows) {
        SCOPED_TRACE(row.path);
        const host::Status status = operation(row.path);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().code, row.code);
        EXPECT_STRNE(status.error().call, "");
    }
}

// ---- Errors and paths ----------------------------------------------------------

TEST(HostError, TextIsCallColonMessage) {
    EXPECT_EQ((host::Error{ENOENT, "mkdir"}.Text()), "mkdir: No such file or directory");
    EXPECT_EQ((host::Error{ENOTDIR, "open"}.Text()), "open: Not a directory");
}

TEST(HostPaths, ConvertBetweenProgramAndHostForm) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {R"(\home\me\data)", "/home/me/data"},
        {R"(photos\a.jpg)", "photos/a.jpg"},
        {R"(dir\)", "dir/"},
        {"plain", "plain"},
        {"", ""},
    };
    for (const auto& [program, host_form] : rows) {
        SCOPED_TRACE(program);
        EXPECT_EQ(host::ToHostPath(program), host_form);
        EXPECT_EQ(host::FromHostPath(host_form), program);
    }
    EXPECT_EQ(host::ToHostPath(R"(a\\b/c)"), "a//b/c");
}

TEST(HostPaths, OwnExecutablePathIsTheTestBinaryInProgramForm) {
    const std::string path = host::OwnExecutablePath("ignored");
    const std::string suffix = R"(\varkel_tests)";
    ASSERT_GT(path.size(), suffix.size());
    EXPECT_EQ(path.substr(path.size() - suffix.size()), suffix);
    EXPECT_EQ(path.front(), '\\');
    EXPECT_EQ(path.find('/'), std::string::npos);
}

// ---- Directories -----------------------------------------------------------------

TEST(HostDirectory, ChangeDirectoryMovesOnlyWhenTheTargetIsADirectory) {
    ScratchDir scratch;
    WriteBytes(scratch.Path("file"), "x");
    mkdir(scratch.Path("sub").c_str(), 0755);
    ScopedCurrentDirectory restore(scratch.path());
    const std::string real_scratch = std::filesystem::canonical(scratch.path()).string();

    ASSERT_TRUE(host::ChangeDirectory(scratch.ProgramPath("sub")).ok());
    auto current = host::CurrentDirectory();
    ASSERT_TRUE(current.ok());
    EXPECT_EQ(current.value(), ProgramForm(real_scratch + "/sub"));

    ExpectRefused(host::ChangeDirectory, {{scratch.ProgramPath("missing"), ENOENT},
                                          {scratch.ProgramPath(R"(file\sub)"), ENOTDIR}});
    EXPECT_EQ(std::filesystem::current_path(), real_scratch + "/sub");
}

TEST(HostDirectory, CreateDirectoryMakesOneLevelAndReportsWhy) {
    ScratchDir scratch;
    WriteBytes(scratch.Path("file"), "x");
    EXPECT_TRUE(host::CreateDirectory(scratch.ProgramPath("new")).ok());
    EXPECT_TRUE(std::filesystem::is_directory(scratch.Path("new")));

    ExpectRefused(host::CreateDirectory, {{scratch.ProgramPath("new"), EEXIST},
                                          {scratch.ProgramPath(R"(a\b)"), ENOENT},
                                          {scratch.ProgramPath(R"(file\sub)"), ENOTDIR}});
}

TEST(HostListing, ByteOrderWithKindsAndNoDotEntries) {
    ScratchDir scratch;
    WriteBytes(scratch.Path("B"), "bbb");
    WriteBytes(scratch.Path("\xC3\xA4"), "12345");  // a-umlaut in UTF-8
    mkdir(scratch.Path("a").c_str(), 0755);
    WriteBytes(scratch.Path("a/inner"), "not listed");
    mkfifo(scratch.Path("_x").c_str(), 0644);
    MakeSocket(scratch.Path("sock"));
    symlink("B", scratch.Path("link_file").c_str());
    symlink("a", scratch.Path("link_dir").c_str());
    symlink("nothing", scratch.Path("broken").c_str());
    symlink("loop", scratch.Path("loop").c_str());
    WriteBytes(scratch.Path("a\\b"), "1");  // a backslash is part of the name

    // Byte order: upper case before '_' before lower case before UTF-8 bytes.
    const std::vector<std::string> expected = {
        "B file 3",         "_x other 0",   "a directory 0",  "a\\b file 1",
        "broken other 0",   "link_dir other 0", "link_file file 3", "loop other 0",
        "sock other 0",     "\xC3\xA4 file 5",
    };
    EXPECT_EQ(ListAll(scratch.path()), expected);
}

TEST(HostListing, EmptyDirectoryHasNoEntries) {
    ScratchDir scratch;
    EXPECT_EQ(ListAll(scratch.path()), std::vector<std::string>{});
}

TEST(HostListing, MissingDirectoryOrRegularFileCannotBeListed) {
    ScratchDir scratch;
    WriteBytes(scratch.Path("file"), "x");
    const std::vector<FailingPath> refused = {
        {scratch.Path("missing"), ENOENT},
        {scratch.Path("file"), ENOTDIR},
        {scratch.Path("file/"), ENOTDIR},
    };
    for (const FailingPath& row : refused) {
        SCOPED_TRACE(row.path);
        auto listing = host::DirectoryListing::Open(row.path);
        ASSERT_FALSE(listing.ok());
        EXPECT_EQ(listing.error().code, row.code);
        EXPECT_STRNE(listing.error().call, "");
    }
}

// ---- Paths beyond PATH_MAX -------------------------------------------------------

class HostLongPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        const int deepest = testing_support::MakeDirectoryChain(scratch.path(), kLevel, kDepth);
        testing_support::WriteBytesAt(deepest, "file", "deep");
        ASSERT_EQ(mkdirat(deepest, "sub", 0755), 0);
        ASSERT_EQ(symlinkat(".", deepest, "link"), 0);
        close(deepest);
        ASSERT_GT(Deep().size(), static_cast<std::size_t>(PATH_MAX));
    }
    // Host path of the deepest directory, ending in '/'.
    std::string Deep() const { return scratch.Path(testing_support::ChainPath(kLevel, kDepth)); }
    static std::string ReadAll(host::File& file) {
        std::string bytes(16, '\0');
        auto got = file.ReadFull(bytes.data(), bytes.size());
        return got ? bytes.substr(0, got.value()) : "read failed";
    }

    static inline const std::string kLevel = std::string(200, 'd');
    static constexpr int kDepth = 30;  // 30 levels of 201 bytes: about 6000 bytes
    ScratchDir scratch;
};

TEST_F(HostLongPathTest, ListingsAndFilesAreReachedOneLevelAtATime) {
    EXPECT_EQ(ListAll(Deep()),
              (std::vector<std::string>{"file file 4", "link other 0", "sub directory 0"}));
    EXPECT_EQ(ListAll(Deep() + "sub"), std::vector<std::string>{});

    auto by_program_path = host::File::OpenForReading(ProgramForm(Deep() + "file"));
    ASSERT_TRUE(by_program_path.ok()) << by_program_path.error().Text();
    EXPECT_EQ(ReadAll(by_program_path.value()), "deep");

    host::FileOpener opener;
    ScopedCurrentDirectory inside(scratch.path());
    const std::string relative = testing_support::ChainPath(kLevel, kDepth) + "file";
    for (const std::string& path : {Deep() + "file", relative}) {
        SCOPED_TRACE(path.substr(0, 40));
        auto opened = opener.OpenForReading(path);
        ASSERT_TRUE(opened.ok()) << opened.error().Text();
        EXPECT_EQ(ReadAll(opened.value()), "deep");
    }
}

TEST_F(HostLongPathTest, NoDirectoryBeyondTheFirstCallIsALink) {
    // Through "link" (a link to its own directory) the file would be found
    // by a path short enough for one call; down here a link is refused.
    ASSERT_EQ(mkdir((Deep() + "sub/inner").c_str(), 0755), -1) << "too long for one call";
    for (const std::string& path : {Deep() + "link/file", Deep() + "link/sub", Deep() + "link/"}) {
        SCOPED_TRACE(path.substr(path.size() - 20));
        auto listing = host::DirectoryListing::Open(path);
        ASSERT_FALSE(listing.ok());
        EXPECT_TRUE(listing.error().code == ELOOP || listing.error().code == ENOTDIR)
            << listing.error().Text();
        host::FileOpener opener;
        auto opened = opener.OpenForReading(path);
        ASSERT_FALSE(opened.ok());
        EXPECT_TRUE(opened.error().code == ELOOP || opened.error().code == ENOTDIR)
            << opened.error().Text();
    }
    auto missing = host::File::OpenForReading(ProgramForm(Deep() + "missing"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
}

TEST_F(HostLongPathTest, FolderBeneathIsReachedWhateverTheLengthAndNeverThroughALink) {
    auto top = host::Folder::Open(scratch.ProgramPath(""));
    ASSERT_TRUE(top.ok());
    const std::string chain = testing_support::ChainPath(kLevel, kDepth);
    auto sub = top.value().OpenBeneath(chain + "sub");
    ASSERT_TRUE(sub.ok()) << sub.error().Text();
    EXPECT_TRUE(sub.value().MakeFolder("made").ok());
    EXPECT_TRUE(top.value().OpenBeneath(chain + "sub/made").ok());
    auto through_link = top.value().OpenBeneath(chain + "link/sub");
    ASSERT_FALSE(through_link.ok());
    EXPECT_TRUE(through_link.error().code == ELOOP || through_link.error().code == ENOTDIR)
        << through_link.error().Text();
}

// ---- Folders held open -----------------------------------------------------------

// A tree beneath a folder descriptor: levels opened never through a link,
// files created never through one.
class HostFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(scratch.Path("top/a/b"));
        std::filesystem::create_directories(scratch.Path("outside"));
        std::filesystem::create_directory_symlink(scratch.Path("outside"), scratch.Path("top/link"));
        std::filesystem::create_directory_symlink(scratch.Path("outside"), scratch.Path("top/a/link"));
        WriteBytes(scratch.Path("top/a/file"), "file");
        auto top = host::Folder::Open(scratch.ProgramPath("top"));
        ASSERT_TRUE(top.ok());
        top_ = std::move(top.value());
    }
    ScratchDir scratch;
    host::Folder top_;
};

TEST_F(HostFolderTest, LevelsAreOpenedOnlyWhenTheyAreRealDirectoriesBeneath) {
    struct Case {
        const char* path;
        int error;  // 0: opened
    };
    // A link or a file on the way is refused: ELOOP or ENOTDIR, depending on
    // whether the kernel opened the path in one call; both read ELOOP here.
    const auto code = [](const host::Result<host::Folder>& opened) {
        if (opened.ok()) return 0;
        return opened.error().code == ENOTDIR ? ELOOP : opened.error().code;
    };
    const std::vector<Case> cases = {
        {"a", 0}, {"a/b", 0}, {"a//b/", 0}, {"./a/./b", 0},
        {"link", ELOOP}, {"a/link", ELOOP}, {"a/link/x", ELOOP},
        {"a/file", ELOOP}, {"missing/b", ENOENT},
        {"a/../a", EXDEV}, {"..", EXDEV}, {"/tmp", EXDEV},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(code(top_.OpenBeneath(row.path)), row.error);
    }
    for (const Case& row : {Case{"a", 0}, Case{"link", ELOOP}, Case{"a/file", ENOENT}}) {
        SCOPED_TRACE(std::string("one level: ") + row.path);
        auto opened = top_.OpenFolder(row.path);
        if (row.error == 0) {
            EXPECT_TRUE(opened.ok());
        } else {
            ASSERT_FALSE(opened.ok());
            EXPECT_EQ(std::string(opened.error().call), "openat");
        }
    }
}

TEST_F(HostFolderTest, FilesAndFoldersAreMadeInTheDescriptorsFolder) {
    auto a = top_.OpenFolder("a");
    ASSERT_TRUE(a.ok());
    // The folder moves away and a link takes its name: work still lands in it.
    std::filesystem::rename(scratch.Path("top/a"), scratch.Path("top/moved"));
    std::filesystem::create_directory_symlink(scratch.Path("outside"), scratch.Path("top/a"));
    ASSERT_TRUE(a.value().MakeFolder("new").ok());
    auto made = a.value().MakeFolder("new");
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().Text(), "mkdirat: File exists");
    auto file = a.value().CreateNewFile("created");
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE(file.value().WriteAll("x", 1).ok());
    EXPECT_EQ(ReadBytes(scratch.Path("top/moved/created")), "x");
    EXPECT_TRUE(std::filesystem::is_directory(scratch.Path("top/moved/new")));
    EXPECT_TRUE(std::filesystem::is_empty(scratch.Path("outside")));
    // A name already taken, by a file or by a link, is never opened.
    for (const char* taken : {"created", "link"}) {
        SCOPED_TRACE(taken);
        auto again = a.value().CreateNewFile(taken);
        ASSERT_FALSE(again.ok());
        EXPECT_EQ(again.error().code, EEXIST);
    }
    EXPECT_TRUE(std::filesystem::is_empty(scratch.Path("outside")));
    ScopedCurrentDirectory back(scratch.path());
    ASSERT_TRUE(a.value().MakeCurrent().ok());
    EXPECT_EQ(std::filesystem::current_path(), scratch.Path("top/moved"));
}

// ---- Files ---------------------------------------------------------------------

class HostFileTest : public ::testing::Test {
protected:
    host::File OpenToRead(const std::string& name) {
        auto file = host::File::OpenForReading(scratch.ProgramPath(name));
        EXPECT_TRUE(file.ok()) << name;
        return file ? std::move(file.value()) : host::File();
    }
    host::File Create(const std::string& name) {
        auto file = host::File::CreateForWriting(scratch.ProgramPath(name));
        EXPECT_TRUE(file.ok()) << name;
        return file ? std::move(file.value()) : host::File();
    }

    ScratchDir scratch;
};

TEST_F(HostFileTest, WrittenBytesReadBackWithTheirSize) {
    const std::string bytes = PatternBytes(200000);  // more than one 64 KiB buffer
    host::File out = Create("data");
    ASSERT_TRUE(out.WriteAll(bytes.data(), bytes.size()).ok());
    ASSERT_TRUE(out.Close().ok());
    EXPECT_EQ(ReadBytes(scratch.Path("data")), bytes);

    host::File in = OpenToRead("data");
    auto size = in.Size();
    ASSERT_TRUE(size.ok());
    EXPECT_EQ(size.value(), 200000);
    std::string back(250000, '\0');
    auto got = in.ReadFull(back.data(), back.size());
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value(), 200000u);
    back.resize(got.value());
    EXPECT_EQ(back, bytes);
    auto at_end = in.Read(back.data(), 10);
    ASSERT_TRUE(at_end.ok());
    EXPECT_EQ(at_end.value(), 0u);
}

TEST_F(HostFileTest, CreateForWritingTruncatesAnExistingFile) {
    WriteBytes(scratch.Path("old"), "a long old content");
    host::File out = Create("old");
    ASSERT_TRUE(out.WriteAll("new", 3).ok());
    ASSERT_TRUE(out.Close().ok());
    EXPECT_EQ(ReadBytes(scratch.Path("old")), "new");
}

TEST_F(HostFileTest, OpeningFailsWithTheReason) {
    WriteBytes(scratch.Path("file"), "x");
    auto missing = host::File::OpenForReading(scratch.ProgramPath("missing"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
    auto through_file = host::File::CreateForWriting(scratch.ProgramPath(R"(file\new)"));
    ASSERT_FALSE(through_file.ok());
    EXPECT_EQ(through_file.error().code, ENOTDIR);
    mkdir(scratch.Path("dir").c_str(), 0755);
    host::File directory = OpenToRead("dir");
    EXPECT_FALSE(directory.Size().ok()) << "a directory has no file size";
}

TEST_F(HostFileTest, AFifoWithoutWriterOpensAtOnceAndHasNoSize) {
    mkfifo(scratch.Path("fifo").c_str(), 0644);
    host::File fifo = OpenToRead("fifo");
    EXPECT_FALSE(fifo.Size().ok());
    char byte = 0;
    auto got = fifo.Read(&byte, 1);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value(), 0u);
}

TEST_F(HostFileTest, CopyFromAPipeGoesThroughTheBuffer) {
    // The kernel will not copy from a pipe directly, so this takes the
    // buffered road, over several 64 KiB rounds, and stops at the pipe's end.
    const std::string bytes = PatternBytes(200000);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_GE(fcntl(ends[1], F_SETPIPE_SZ, 262144), 262144);
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
    auto in = host::File::OpenForReading(ProgramForm("/dev/fd/" + std::to_string(ends[0])));
    close(ends[0]);
    ASSERT_TRUE(in.ok()) << in.error().Text();
    host::File out = Create("copy");
    auto copied = out.CopyFrom(in.value(), 300000);
    ASSERT_TRUE(copied.ok()) << copied.error().Text();
    EXPECT_EQ(copied.value(), 200000);
    ASSERT_TRUE(out.Close().ok());
    EXPECT_TRUE(ReadBytes(scratch.Path("copy")) == bytes);
}

TEST_F(HostFileTest, SkipThenCopyMovesTheBytesFromTheReadPosition) {
    const std::string bytes = PatternBytes(300000);
    WriteBytes(scratch.Path("source"), bytes);
    struct Row {
        const char* what;
        std::int64_t skip;
        std::int64_t ask;
        std::int64_t copied;
    };
    const std::vector<Row> rows = {
        {"all of it", 0, 300000, 300000},
        {"more than a buffer from the middle", 1000, 140000, 140000},
        {"fewer when the source is short", 250000, 100000, 50000},
        {"nothing at the end", 300000, 10, 0},
        {"nothing asked", 5, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        host::File in = OpenToRead("source");
        host::File out = Create("copy");
        ASSERT_TRUE(in.Skip(row.skip).ok());
        auto copied = out.CopyFrom(in, row.ask);
        ASSERT_TRUE(copied.ok()) << copied.error().Text();
        EXPECT_EQ(copied.value(), row.copied);
        ASSERT_TRUE(out.Close().ok());
        EXPECT_TRUE(ReadBytes(scratch.Path("copy")) ==
                    bytes.substr(static_cast<std::size_t>(row.skip), static_cast<std::size_t>(row.copied)));
    }
}

TEST_F(HostFileTest, CopyAppendsAfterWhatWasWritten) {
    WriteBytes(scratch.Path("source"), "payload");
    host::File in = OpenToRead("source");
    host::File out = Create("archive");
    ASSERT_TRUE(out.WriteAll("head:", 5).ok());
    auto copied = out.CopyFrom(in, 7);
    ASSERT_TRUE(copied.ok());
    ASSERT_TRUE(out.WriteAll(":tail", 5).ok());
    ASSERT_TRUE(out.Close().ok());
    EXPECT_EQ(ReadBytes(scratch.Path("archive")), "head:payload:tail");
}

TEST_F(HostFileTest, FailedCopyNamesTheSideThatFailed) {
    WriteBytes(scratch.Path("source"), PatternBytes(200000));
    WriteBytes(scratch.Path("target"), "");
    struct Row {
        const char* what;
        std::function<host::File()> source;
        std::function<host::File()> target;
        int code;
        const char* call;
    };
    const std::vector<Row> rows = {
        // A file of the kernel whose reading fails at its start.
        {"source fails to read", [] { return std::move(host::File::OpenForReading("\\proc\\self\\mem").value()); },
         [&] { return Create("copy"); }, EIO, "read"},
        // The kernel copy refuses a source open for writing only, and so
        // does the buffer copy: its read is what fails.
        {"source not open for reading", [&] { return Create("write-only"); },
         [&] { return Create("copy"); }, EBADF, "read"},
        {"target not open for writing", [&] { return OpenToRead("source"); },
         [&] { return OpenToRead("target"); }, EBADF, "write"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        host::File source = row.source();
        host::File target = row.target();
        auto copied = target.CopyFrom(source, 100000);
        ASSERT_FALSE(copied.ok());
        EXPECT_EQ(copied.error().code, row.code) << copied.error().Text();
        EXPECT_STREQ(copied.error().call, row.call);
    }
}

TEST_F(HostFileTest, LargeCopiesGoInTwoHalvesAndLeaveBothPositionsAfterThem) {
    // 16 MiB and more are copied as two halves at once; the target's
    // position lies off a page boundary, as a record's data does.
    constexpr std::int64_t kMiB = 1 << 20;
    const std::string bytes = PatternBytes(40 * kMiB);
    WriteBytes(scratch.Path("source"), bytes);
    struct Row {
        const char* what;
        std::int64_t ask;
        std::int64_t copied;
    };
    const std::vector<Row> rows = {
        {"all of it", 40 * kMiB, 40 * kMiB},
        {"the second half ends early", 48 * kMiB, 40 * kMiB},
        {"the first half ends early", 100 * kMiB, 40 * kMiB},
        {"a part, odd in length", 33 * kMiB + 7, 33 * kMiB + 7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        host::File in = OpenToRead("source");
        host::File out = Create("copy");
        ASSERT_TRUE(out.WriteAll("head:", 5).ok());
        auto copied = out.CopyFrom(in, row.ask);
        ASSERT_TRUE(copied.ok()) << copied.error().Text();
        EXPECT_EQ(copied.value(), row.copied);
        // Both files go on from where the copy ended.
        char next = 0;
        auto read = in.Read(&next, 1);
        ASSERT_TRUE(read.ok());
        const auto end = static_cast<std::size_t>(row.copied);
        EXPECT_EQ(read.value(), end < bytes.size() ? 1u : 0u);
        if (end < bytes.size()) {
            EXPECT_EQ(next, bytes[end]);
        }
        ASSERT_TRUE(out.WriteAll(":tail", 5).ok());
        ASSERT_TRUE(out.Close().ok());
        EXPECT_TRUE(ReadBytes(scratch.Path("copy")) == "head:" + bytes.substr(0, end) + ":tail");
    }
}

TEST_F(HostFileTest, ALargeCopyThatCannotBeWrittenWholeFailsOnTheWriteSide) {
    // The target may not grow past 24 MiB: the second half of a 40 MiB copy
    // fails (EFBIG, as on a full disk), and the copy fails with it.
    constexpr std::int64_t kMiB = 1 << 20;
    WriteBytes(scratch.Path("source"), PatternBytes(40 * kMiB));
    const std::string target = scratch.ProgramPath("copy");
    const std::string source = scratch.ProgramPath("source");
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{24 * kMiB, 24 * kMiB};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto in = host::File::OpenForReading(source);
        auto out = host::File::CreateForWriting(target);
        if (!in || !out || !out.value().WriteAll("x", 1)) _exit(10);
        auto copied = out.value().CopyFrom(in.value(), 40 * kMiB);
        if (copied) _exit(11);
        _exit(copied.error().code == EFBIG && std::string(copied.error().call) == "write" ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no files, 11: the copy succeeded, 12: another error";
}

// The descriptors this process holds open.
std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST_F(HostFileTest, FilesOpenedAheadComeInListOrderEvenOutOfDescriptors) {
    // 200 files in 4 directories, every seventh missing; taken in order, each
    // must be its own file or fail as opening it fails.
    constexpr std::size_t kFiles = 200;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < kFiles; ++i) {
        paths.push_back(scratch.Path("d" + std::to_string(i % 4) + "/f" + std::to_string(i)));
        std::filesystem::create_directories(scratch.Path("d" + std::to_string(i % 4)));
        if (i % 7 != 3) WriteBytes(paths.back(), "file " + std::to_string(i));
    }
    const auto take_all = [&](std::size_t stop_after) {
        host::FileOpener opener;
        host::FilesAhead ahead(opener, kFiles,
                               [&](std::size_t index, std::string& path) { path = paths[index]; });
        for (std::size_t i = 0; i < stop_after; ++i) {
            auto file = ahead.Take(paths[i]);
            if (i % 7 == 3) {
                if (file || file.error().code != ENOENT) return "file " + std::to_string(i) + " opened";
                continue;
            }
            if (!file) return "file " + std::to_string(i) + ": " + file.error().Text();
            std::string content(64, '\0');
            auto read = file.value().ReadFull(content.data(), content.size());
            content.resize(read ? read.value() : 0);
            if (content != "file " + std::to_string(i)) return "file " + std::to_string(i) + " is " + content;
            opener.Retire(std::move(file.value()));
        }
        return std::string("all in order");
    };
    const std::size_t before = OpenDescriptors();
    EXPECT_EQ(take_all(kFiles), "all in order");
    EXPECT_EQ(take_all(5), "all in order");  // going away early closes what waits open
    EXPECT_EQ(OpenDescriptors(), before);

    // Opened ahead with a few descriptors to spare, the thread runs out and
    // stops; the files from there on are opened as they are taken. Under
    // 1024 descriptors allowed, nothing is opened ahead.
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{1024, 1024};
        setrlimit(RLIMIT_NOFILE, &limit);
        for (std::size_t open = OpenDescriptors(); open < 1024 - 6; ++open) {
            if (dup(0) < 0) _exit(2);
        }
        const std::string result = take_all(kFiles);
        std::fprintf(stderr, "%s\n", result.c_str());
        _exit(result == "all in order" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(HostFileTest, TruncateAndSeekToCutAFileBack) {
    host::File out = Create("cut");
    ASSERT_TRUE(out.WriteAll("keep+drop", 9).ok());
    ASSERT_TRUE(out.Truncate(4).ok());
    ASSERT_TRUE(out.SeekTo(4).ok());
    ASSERT_TRUE(out.WriteAll("!", 1).ok());
    ASSERT_TRUE(out.Close().ok());
    EXPECT_EQ(ReadBytes(scratch.Path("cut")), "keep!");
}

TEST_F(HostFileTest, HostPathKeepsItsBackslashes) {
    const host::HostPath directory{scratch.Path("x\\y")};
    ASSERT_TRUE(host::CreateDirectory(directory).ok());
    const host::HostPath file{directory.text + "/a\\b"};
    EXPECT_FALSE(host::PassesThroughLink(file));
    auto created = host::File::CreateNew(file);
    ASSERT_TRUE(created.ok()) << created.error().Text();
    ASSERT_TRUE(created.value().WriteAll("1", 1).ok());
    ASSERT_TRUE(created.value().Close().ok());
    auto replaced = host::File::CreateReplacing(file);
    ASSERT_TRUE(replaced.ok()) << replaced.error().Text();
    ASSERT_TRUE(replaced.value().WriteAll("2", 1).ok());
    ASSERT_TRUE(replaced.value().Close().ok());
    EXPECT_TRUE(host::IdentityOf(file).ok());
    // One directory named "x\y" holding one file named "a\b": nothing else.
    EXPECT_EQ(ReadBytes(scratch.Path("x\\y/a\\b")), "2");
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("x")));
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("x\\y/a")));
}

TEST_F(HostFileTest, TemporaryFilesAreNewAndBesideTheirNamesake) {
    const std::string target = scratch.ProgramPath("archive.vk");
    auto first = host::File::CreateTemporaryBeside(target);
    auto second = host::File::CreateTemporaryBeside(target);
    ASSERT_TRUE(first.ok() && second.ok());
    const std::string name = first.value().TemporaryName();
    EXPECT_NE(name, second.value().TemporaryName());
    EXPECT_EQ(name.rfind(scratch.ProgramPath(""), 0), 0u) << name;
    EXPECT_EQ(name.find('\\', scratch.ProgramPath("").size()), std::string::npos) << name;

    ASSERT_TRUE(first.value().WriteAll("abc", 3).ok());
    ASSERT_TRUE(first.value().Close().ok());
    EXPECT_EQ(ReadBytes(host::ToHostPath(name)), "abc");
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("archive.vk")));

    auto in_missing = host::File::CreateTemporaryBeside(scratch.ProgramPath(R"(missing\a.vk)"));
    EXPECT_FALSE(in_missing.ok());
}

// ---- Console -------------------------------------------------------------------

TEST(HostConsole, DetachedOutputGoesNowhereUntilAttached) {
    const std::string seen = CaptureStdout([] {
        host::Print("before ");
        ASSERT_TRUE(host::DetachOutput().ok());
        host::Print("hidden ");
        ASSERT_TRUE(host::DetachOutput().ok());  // detaching twice is harmless
        host::Print("still hidden ");
        ASSERT_TRUE(host::AttachOutput().ok());
        host::Print("after");
        ASSERT_TRUE(host::AttachOutput().ok());  // and so is attaching twice
        host::FlushOutput();
    });
    EXPECT_EQ(seen, "before after");
}

}  // namespace
