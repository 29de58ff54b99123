#include "compress/launcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// A program that writes each argument it receives, bracketed, one per line,
// to argv.txt beside itself: what reached it, blanks and slashes included.
constexpr const char* kArgumentRecorder =
    "#!/bin/sh\n"
    "for argument in \"$@\"; do printf '[%s]\\n' \"$argument\"; done"
    " > \"$(dirname \"$0\")/argv.txt\"\n";

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/varkel-launcher-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        recorder_ = InstallRecorder(scratch_);
    }
    void TearDown() override { std::filesystem::remove_all(scratch_); }

    // Writes the recorder into `directory`; returns its path in program form.
    static std::string InstallRecorder(const std::string& directory) {
        const std::string path = directory + "/record.sh";
        std::ofstream(path) << kArgumentRecorder;
        chmod(path.c_str(), 0755);
        return host::FromHostPath(path);
    }

    static std::string RecordedArguments(const std::string& directory) {
        std::ifstream recorded(directory + "/argv.txt");
        std::stringstream text;
        text << recorded.rdbuf();
        return text.str();
    }

    std::string scratch_;
    std::string recorder_;
};

TEST_F(LauncherTest, CommandLineIsSplitIntoTheProgramsArguments) {
    const std::string long_argument(1000, 'x');
    struct Row {
        const char* name;
        std::string arguments;  // what follows the program on the command line
        std::string received;
    };
    const Row rows[] = {
        {"words", " a b", "[a]\n[b]\n"},
        {"runs of blanks and tabs", " \t a  \t b \t", "[a]\n[b]\n"},
        {"quotes group a token", R"( "a b" c)", "[a b]\n[c]\n"},
        {"quotes inside a token", R"( x"a b"y)", "[xa by]\n"},
        {"empty quotes give an empty token", R"( "" z)", "[]\n[z]\n"},
        {"unclosed quote runs to the end", R"( "a  b)", "[a  b]\n"},
        {"backslashes become slashes", R"( a\b "c\d e\")", "[a/b]\n[c/d e/]\n"},
        {"no arguments", "", ""},
        {"longer than 259 characters", " " + long_argument, "[" + long_argument + "]\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(scratch_ + "/argv.txt");
        auto end = RunEXEWait(recorder_ + row.arguments);
        ASSERT_TRUE(end.ok()) << end.error().Text();
        EXPECT_TRUE(end.value().succeeded());
        EXPECT_EQ(RecordedArguments(scratch_), row.received);
    }
}

TEST_F(LauncherTest, QuotedProgramPathMayHoldBlanks) {
    const std::string directory = scratch_ + "/my tools";
    std::filesystem::create_directory(directory);
    const std::string program = InstallRecorder(directory);

    auto end = RunEXEWait('"' + program + "\" one");

    ASSERT_TRUE(end.ok()) << end.error().Text();
    EXPECT_EQ(RecordedArguments(directory), "[one]\n");
}

TEST_F(LauncherTest, ReportsHowTheProgramEnded) {
    struct Row {
        const char* command_line;
        bool exited;
        int exit_code;
        int signal;
    };
    const Row rows[] = {
        {R"(/bin/sh -c "exit 0")", true, 0, 0},
        {R"(/bin/sh -c "exit 7")", true, 7, 0},
        {R"(/bin/sh -c "kill -TERM $$")", false, 0, SIGTERM},
        {R"(/bin/sh -c "kill -KILL $$")", false, 0, SIGKILL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command_line);
        auto end = RunEXEWait(row.command_line);
        ASSERT_TRUE(end.ok()) << end.error().Text();
        EXPECT_EQ(end.value().exited, row.exited);
        EXPECT_EQ(end.value().exit_code, row.exit_code);
        EXPECT_EQ(end.value().signal, row.signal);
        EXPECT_EQ(end.value().succeeded(), row.exited && row.exit_code == 0);
    }
}

TEST_F(LauncherTest, CommandLineThatNamesNoRunnableProgramFailsToStart) {
    const char* rows[] = {
        "",
        "  \t ",
        R"("" argument)",
        R"(\nonexistent-directory\program argument)",
        "varkel-no-such-program-on-path",
    };
    for (const char* command_line : rows) {
        SCOPED_TRACE(command_line);
        auto end = RunEXEWait(command_line);
        ASSERT_FALSE(end.ok());
        EXPECT_EQ(end.error().code, ENOENT);
    }
}

TEST_F(LauncherTest, RunExeStartsWithoutWaitingAndIgnoresTheWindowMode) {
    RunEXE(recorder_ + R"( "a b" c\d)", "HIDDEN");

    // The started program is our child: waiting for it here tells that it
    // was started, without guessing how long it takes.
    int status = 0;
    ASSERT_GT(waitpid(-1, &status, 0), 0) << "nothing was started";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(RecordedArguments(scratch_), "[a b]\n[c/d]\n");

    RunEXE("", "NORMAL");
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD) << "an empty command line started something";
}

}  // namespace
