// Packing as a hostile world would have it: standard output closed, full or
// a pipe nobody reads; the run interrupted; the archive's name held by
// something that is not a regular file, or by a link; a folder the user may
// not change. Whatever happens, an old archive stays whole until a complete
// new one replaces it, nothing temporary is left, and the exit status tells.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <functional>
#include <string>
#include <vector>

#include "archive_test_support.h"
#include "reliability_support.h"

namespace {

using namespace reliability;
using archive_testing::ParseArchive;
using archive_testing::StoredRecord;

const std::string kOldArchive =
    archive_testing::ArchiveHeader(1) + archive_testing::Record("old.txt", "old");

// What becomes of the program's standard output.
enum class Output { Closed, DevFull, ReaderGone };

// Runs the program in `directory` with standard output as `output` asks;
// standard error goes to /dev/null.
Ended RunWithOutput(const std::vector<std::string>& arguments, const std::string& directory,
                    Output output) {
    int pipe_ends[2] = {-1, -1};
    if (output == Output::ReaderGone) {
        if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
        close(pipe_ends[0]);  // nobody will ever read: every write meets a closed pipe
    }
    const std::string program = Program();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(directory.c_str()) != 0) _exit(126);
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDERR_FILENO);
        if (output == Output::Closed) close(STDOUT_FILENO);
        if (output == Output::DevFull) dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        if (output == Output::ReaderGone) dup2(pipe_ends[1], STDOUT_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pipe_ends[1] >= 0) close(pipe_ends[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    Ended ended;
    ended.exited = WIFEXITED(status);
    if (ended.exited) ended.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
    return ended;
}

TEST(OutputChannels, TheJobRunsToItsEndAndAFailedOutputIsAFailedRun) {
    struct Case {
        const char* label;
        Output output;
        const char* status;  // lines that could not be written make the run a failure
    };
    const std::vector<Case> cases = {
        {"standard output closed: nothing is lost, the archive cannot take its place", Output::Closed,
         "exit 0"},
        {"standard output on a full device", Output::DevFull, "exit 2"},
        {"standard output a pipe whose reader is gone", Output::ReaderGone, "exit 2"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        fs::create_directory(scratch.Path("src"));
        std::vector<StoredRecord> expected;
        // Enough files for a hundred progress dots, each a separate write.
        for (int i = 0; i < 2000; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "f%04d", i);
            WriteBytes(scratch.Path("src/") + name, name);
            expected.push_back({name, name});
        }
        WriteBytes(scratch.Path("job.vkjob"), "CHDIR_IN=src\nADDDIR=src\nPACK=x.dat\n");

        const Ended ended = RunWithOutput({"job.vkjob"}, scratch.path(), row.output);

        EXPECT_EQ(ended.Describe(), row.status);
        const auto parsed = ParseArchive(ReadBytes(scratch.Path("x.dat")));
        EXPECT_TRUE(parsed.well_formed);
        EXPECT_EQ(parsed.records, expected);
    }
}

// ---- Interrupted runs ----------------------------------------------------------------------

TEST(Interrupted, APackStoppedBySignalLeavesTheOldArchiveAndNoTemporaryFile) {
    ScratchDir scratch;
    fs::create_directory(scratch.Path("src"));
    WriteBytes(scratch.Path("src/big"), "");
    fs::resize_file(scratch.Path("src/big"), std::uintmax_t{1} << 30);  // sparse: no room taken
    WriteBytes(scratch.Path("job.vkjob"), "CHDIR_IN=src\nADDDIR=src\nPACK=x.dat\n");
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        WriteBytes(scratch.Path("x.dat"), kOldArchive);
        Child child({Program(), "job.vkjob"}, scratch.path());
        const bool sent =
            SignalWhenFileReaches(child, scratch.path(), "x.dat.tmp", 1u << 20, signal_number);
        const Ended ended = child.Wait();
        ASSERT_TRUE(sent) << "the pack ended first: " << ended.Describe();
        EXPECT_EQ(ended.Describe(), "signal " + std::to_string(signal_number));
        EXPECT_EQ(ReadBytes(scratch.Path("x.dat")), kOldArchive);
        EXPECT_EQ(NamesStartingWith(scratch.path(), "x.dat.tmp"), std::vector<std::string>{});
    }
}

TEST(Interrupted, ARunningCompressionToolIsEndedWithTheRun) {
    ScratchDir scratch;
    const std::string program = CopyProgramTo(scratch.path());
    // The tool tells who it is, then takes its time.
    WriteBytes(scratch.Path(kToolName), "#!/bin/sh\necho $$ > tool.pid\nexec sleep 60\n");
    fs::permissions(scratch.Path(kToolName), fs::perms::owner_all);
    WriteBytes(scratch.Path("a.txt"), "alpha");
    WriteBytes(scratch.Path("job.vkjob"), "COMPRESS=ON\nADDFILE=a.txt,a.txt\nPACK=x.dat\n");
    Child child({program, "job.vkjob"}, scratch.path());
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadBytes(scratch.Path("tool.pid")).find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const pid_t tool = std::stoi("0" + ReadBytes(scratch.Path("tool.pid")));
    ASSERT_GT(tool, 0);
    child.Kill(SIGTERM);
    const Ended ended = child.Wait(std::chrono::seconds(20));
    EXPECT_EQ(ended.Describe(), "signal " + std::to_string(SIGTERM));
    EXPECT_NE(kill(tool, 0), 0) << "the tool outlived the run";
}

// ---- What holds the archive's name ---------------------------------------------------------

TEST(ArchiveTarget, AnythingButARegularFileIsLeftAloneAndReported) {
    struct Case {
        const char* label;
        std::function<void(const std::string& target)> make;
    };
    const std::vector<Case> cases = {
        {"FIFO", [](const std::string& target) { ASSERT_EQ(mkfifo(target.c_str(), 0644), 0); }},
        {"character device",
         [](const std::string& target) {
             ASSERT_EQ(mknod(target.c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
         }},
        {"directory", [](const std::string& target) { fs::create_directory(target); }},
        {"link that leads nowhere",
         [](const std::string& target) { fs::create_symlink("nowhere", target); }},
        {"link to a directory",
         [](const std::string& target) { fs::create_directory_symlink(".", target); }},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        WriteBytes(scratch.Path("a.txt"), "alpha");
        row.make(scratch.Path("x.dat"));
        const auto before = fs::symlink_status(scratch.Path("x.dat")).type();

        const Ended ended =
            RunJob(scratch.path(), {"COMPRESS=ON", "ADDFILE=a.txt,a.txt", "PACK=x.dat", "PRINT=next"});

        EXPECT_EQ(ended.Describe(), "exit 2");
        EXPECT_NE(ended.output.find("Packing archive to file x.dat\n\n Error : Cannot Create Archive "
                                    "x.dat! \nnot a regular file\nnext\n"),
                  std::string::npos)
            << ended.output;
        EXPECT_EQ(ended.output.find("OVERWRITE"), std::string::npos) << ended.output;
        EXPECT_EQ(fs::symlink_status(scratch.Path("x.dat")).type(), before);
        EXPECT_EQ(NamesStartingWith(scratch.path(), "x.dat."), std::vector<std::string>{});
    }
}

TEST(ArchiveTarget, ALinkToAFileKeepsItsPlaceAndTheFileGetsTheArchive) {
    ScratchDir scratch;
    fs::create_directory(scratch.Path("store"));
    WriteBytes(scratch.Path("store/x.dat"), kOldArchive);
    fs::create_symlink("store/x.dat", scratch.Path("x.dat"));
    WriteBytes(scratch.Path("a.txt"), "alpha");

    const Ended ended = RunJob(scratch.path(), {"ADDFILE=a.txt,a.txt", "PACK=x.dat"});

    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output;
    EXPECT_NE(ended.output.find("OVERWRITE , DELETING !!!!\nDeleted file x.dat!!  \n"),
              std::string::npos)
        << ended.output;
    ASSERT_TRUE(fs::is_symlink(scratch.Path("x.dat")));
    EXPECT_EQ(fs::read_symlink(scratch.Path("x.dat")), "store/x.dat");
    EXPECT_EQ(ParseArchive(ReadBytes(scratch.Path("store/x.dat"))).records,
              (std::vector<StoredRecord>{{"a.txt", "alpha"}}));
    EXPECT_EQ(NamesStartingWith(scratch.Path("store"), "x.dat.tmp"), std::vector<std::string>{});
}

// As a normal user: whether the old archive can be replaced is the folder's
// to say. When it cannot, the old archive stays and the run fails.
TEST(ArchiveTarget, AFolderTheUserMayNotChangeKeepsTheOldArchive) {
    struct Case {
        const char* label;
        fs::perms folder_mode;
        const char* announcement;
        const char* status;
    };
    const std::vector<Case> cases = {
        {"a folder the user may write", fs::perms::all, "Deleted file x.dat!!  \n", "exit 0"},
        {"a read-only folder",
         fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
             fs::perms::others_read | fs::perms::others_exec,
         "Could not delete file x.dat!!  \n", "exit 2"},
        {"a sticky folder, the old archive another user's", fs::perms::all | fs::perms::sticky_bit,
         "Could not delete file x.dat!!  \n", "exit 2"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        fs::permissions(scratch.path(), fs::perms::all);
        fs::create_directory(scratch.Path("work"));
        const std::string work = scratch.Path("work");
        WriteBytes(work + "/a.txt", "alpha");
        WriteBytes(work + "/x.dat", kOldArchive);  // root's
        fs::permissions(work + "/x.dat", fs::perms::all);
        WriteBytes(work + "/job.vkjob", "ADDFILE=a.txt,a.txt\nPACK=x.dat\n");
        fs::permissions(work, row.folder_mode);
        Child child({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                     Program(), "job.vkjob"},
                    work);
        const Ended ended = child.Wait();

        EXPECT_EQ(ended.Describe(), row.status) << ended.output << ended.errors;
        EXPECT_NE(ended.output.find("OVERWRITE , DELETING !!!!\n" + std::string(row.announcement)),
                  std::string::npos)
            << ended.output;
        if (std::string(row.status) == "exit 0") {
            EXPECT_EQ(ParseArchive(ReadBytes(work + "/x.dat")).records,
                      (std::vector<StoredRecord>{{"a.txt", "alpha"}}));
        } else {
            EXPECT_EQ(ReadBytes(work + "/x.dat"), kOldArchive);
        }
        EXPECT_EQ(NamesStartingWith(work, "x.dat.tmp"), std::vector<std::string>{});
    }
}

}  // namespace
