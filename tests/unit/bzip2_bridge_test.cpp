#include "compress/bzip2_bridge.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "host/host.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Bytes that bzip2 cannot squeeze to nothing, so the round trip is real work.
std::string SampleData() {
    std::mt19937 generator(20240611);
    std::string data = "archive header and records\n";
    for (int i = 0; i < 200000; ++i) data += static_cast<char>('a' + generator() % 7);
    return data;
}

// The program-form name of a directory, as SetStartDir leaves INIT_DIR.
std::string StartDirectory(const std::string& host_directory) {
    return host::FromHostPath(host_directory) + "\\";
}

// The first executable of that name in the directories of `search_path`.
std::optional<std::string> FindOnPath(const std::string& name, const std::string& search_path) {
    std::stringstream directories(search_path);
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        const std::string candidate = directory + "/" + name;
        if (!directory.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// Runs one bridge call and returns what it printed.
std::string Printed(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

class Bzip2BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/varkel-bridge-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        saved_path_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        bzip2_ = FindOnPath("bzip2", saved_path_);
        ASSERT_TRUE(bzip2_.has_value()) << "bzip2 is not installed";
        ResetJobState();
        ResetOutcome();
        INIT_DIR = StartDirectory(VARKEL_BINARY_DIR);
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        if (!saved_directory_.empty()) {
            EXPECT_EQ(chdir(saved_directory_.c_str()), 0);
        }
        fs::remove_all(scratch_);
        ResetJobState();
        ResetOutcome();
    }

    // A program-form path in the scratch directory; the file system sees it
    // as scratch_ + "/" + name.
    std::string InScratch(const std::string& name) const {
        return host::FromHostPath(scratch_ + "/" + name);
    }
    static std::string OnHost(const std::string& program_path) {
        return host::ToHostPath(program_path);
    }

    // A copy of the tool in its own start directory that looks for its
    // compressor only among `tools` (links to the installed ones) and on a
    // search path of nothing but a missing directory. `directory` holds no
    // blank: the tool's list of directories is separated by blanks.
    void ToolWithOnly(const std::vector<std::string>& tools, const std::string& directory) {
        const std::string compressors = directory + "/compressors";
        fs::create_directories(compressors);
        for (const std::string& tool : tools) {
            fs::create_symlink(*FindOnPath(tool, saved_path_), compressors + "/" + tool);
        }
        std::string shim = ReadFile(std::string(VARKEL_BINARY_DIR) + "/" + kCompressionToolName);
        const std::string setting = "VARKEL_TOOL_DIRECTORIES=\"/usr/bin /bin /usr/local/bin\"";
        const std::size_t at = shim.find(setting);
        ASSERT_NE(at, std::string::npos) << "the tool no longer names its directories that way";
        shim.replace(at, setting.size(), "VARKEL_TOOL_DIRECTORIES=\"" + compressors + "\"");
        const std::string tool_path = directory + "/" + kCompressionToolName;
        WriteFile(tool_path, shim);
        fs::permissions(tool_path, fs::perms::owner_all);
        INIT_DIR = StartDirectory(directory);
        setenv("PATH", (directory + "/missing").c_str(), 1);
    }

    void EnterScratch() {
        saved_directory_ = fs::current_path();
        ASSERT_EQ(chdir(scratch_.c_str()), 0);
    }

    // Compresses `path`, checks the result, moves it to the archive's name as
    // a caller would, decompresses it and checks the data. The tool's input
    // stays as it was each time.
    void ExpectRoundTrip(const std::string& path, const std::string& data) {
        const std::string host_path = host::ToHostPath(path);
        WriteFile(host_path, data);

        bool compressed = false;
        EXPECT_EQ(Printed([&] { compressed = Compress_File(path); }),
                  "Compressing " + path + "...\n");
        ASSERT_TRUE(compressed);
        EXPECT_EQ(ReadFile(host_path), data);
        EXPECT_TRUE(is_BZ2(path + ".bz2"));
        // Checked by bzip2 itself, out of reach of options a test put in the environment.
        auto test = host::RunAndWait({"/usr/bin/env", "-u", "BZIP2", "-u", "BZIP", *bzip2_, "-t",
                                      host_path + ".bz2"});
        ASSERT_TRUE(test.ok()) << test.error().Text();
        EXPECT_TRUE(test.value().succeeded()) << "bzip2 -t rejects the compressed archive";

        fs::rename(host_path + ".bz2", host_path);
        const std::string compressed_data = ReadFile(host_path);
        bool decompressed = false;
        EXPECT_EQ(Printed([&] { decompressed = UnCompress_File(path); }),
                  "UnCompressing " + path + "...\n");
        ASSERT_TRUE(decompressed);
        EXPECT_EQ(ReadFile(host_path), compressed_data);
        EXPECT_TRUE(ReadFile(host_path + ".out") == data) << "decompressed data differs";
    }

    std::string scratch_;
    std::string saved_path_;
    std::optional<std::string> bzip2_;
    std::string saved_directory_;
};

TEST_F(Bzip2BridgeTest, RoundTripWithEachCompressorAndAHostileEnvironment) {
    const std::string data = SampleData();
    struct Row {
        const char* name;
        std::optional<std::vector<std::string>> only_tools;  // nullopt: the tool as installed
        std::vector<std::pair<const char*, const char*>> environment;
    };
    const Row rows[] = {
        {"as installed", std::nullopt, {}},
        {"lbzip2 alone", std::vector<std::string>{"lbzip2"}, {}},
        {"bzip2 alone", std::vector<std::string>{"bzip2"}, {}},
        // The compressors read options from these; they must not reach them.
        {"options in the environment", std::nullopt,
         {{"LBZIP2", "-c"}, {"BZIP2", "--"}, {"BZIP", "-c"}}},
    };
    int row_number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string row_directory = scratch_ + "/row " + std::to_string(++row_number);
        fs::create_directory(row_directory);
        INIT_DIR = StartDirectory(VARKEL_BINARY_DIR);
        if (row.only_tools) {
            if (!FindOnPath(row.only_tools->front(), saved_path_)) {
                std::cout << "skipping row \"" << row.name << "\": not installed\n";
                continue;
            }
            ToolWithOnly(*row.only_tools, scratch_ + "/tool" + std::to_string(row_number));
        }
        for (const auto& [name, value] : row.environment) setenv(name, value, 1);
        ExpectRoundTrip(host::FromHostPath(row_directory + "/backup archive.vk"), data);
        for (const auto& [name, value] : row.environment) unsetenv(name);
        setenv("PATH", saved_path_.c_str(), 1);
    }
    EXPECT_EQ(RunOutcome(), Outcome::Clean);
}

TEST_F(Bzip2BridgeTest, ATakenResultNameIsNeverWrittenOver) {
    const std::string path = InScratch("archive.vk");
    WriteFile(OnHost(path), SampleData());
    WriteFile(OnHost(path) + ".bz2", "a file of the user's");

    EXPECT_EQ(Printed([&] { EXPECT_FALSE(Compress_File(path)); }),
              "Compressing " + path + "...\n\n Error : Compression Tool Failed On " + path + "! \n");
    EXPECT_EQ(ReadFile(OnHost(path) + ".bz2"), "a file of the user's");
    EXPECT_EQ(ReadFile(OnHost(path)), SampleData());
}

TEST_F(Bzip2BridgeTest, ToolInAStartDirectoryWithABlank) {
    const std::string tool_directory = scratch_ + "/tool dir";
    fs::create_directory(tool_directory);
    fs::copy_file(std::string(VARKEL_BINARY_DIR) + "/" + kCompressionToolName,
                  tool_directory + "/" + kCompressionToolName);
    INIT_DIR = StartDirectory(tool_directory);

    ExpectRoundTrip(InScratch("archive.vk"), SampleData());
}

TEST_F(Bzip2BridgeTest, PathBeginningWithADashStaysAFileName) {
    EnterScratch();
    // Read as options, "-d" would turn the compression into a decompression.
    WriteFile("-d", "not an option");

    std::string printed = Printed([] { EXPECT_TRUE(Compress_File("-d")); });

    EXPECT_EQ(printed, "Compressing -d...\n");
    EXPECT_EQ(ReadFile("-d"), "not an option");
    EXPECT_TRUE(is_BZ2("-d.bz2"));
}

TEST_F(Bzip2BridgeTest, ToolFailuresArePrintedAndRecorded) {
    struct Row {
        const char* name;
        bool compress;
        std::string file_name;
        std::function<void(const std::string& host_path)> prepare;
    };
    const std::string empty_directory = scratch_ + "/empty";
    fs::create_directory(empty_directory);
    const Row rows[] = {
        {"tool missing from the start directory", true, "plain.vk",
         [&](const std::string& host_path) {
             WriteFile(host_path, "data");
             INIT_DIR = StartDirectory(empty_directory);
         }},
        {"no compressor installed", true, "plain2.vk",
         [&](const std::string& host_path) {
             WriteFile(host_path, "data");
             ToolWithOnly({}, scratch_ + "/no-tools");
         }},
        // A compressor in the current directory, reached by an empty or a
        // relative entry of the search path, is never run.
        {"a compressor only in the current directory", true, "plain3.vk",
         [&](const std::string& host_path) {
             WriteFile(host_path, "data");
             ToolWithOnly({}, scratch_ + "/relative");
             WriteFile("lbzip2", "#!/bin/sh\necho ran > ran-from-here\n");
             fs::permissions("lbzip2", fs::perms::owner_all);
             setenv("PATH", ":.:bin", 1);
         }},
        {"damaged compressed data", false, "damaged.vk",
         [](const std::string& host_path) { WriteFile(host_path, "BZh91AY&SYgarbage-garbage"); }},
        {"file to compress missing", true, "missing.vk", [](const std::string&) {}},
        {"path holding a double quote", true, "say \"hi\".vk",
         [](const std::string& host_path) { WriteFile(host_path, "data"); }},
    };
    EnterScratch();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        INIT_DIR = StartDirectory(VARKEL_BINARY_DIR);
        setenv("PATH", saved_path_.c_str(), 1);
        ResetOutcome();
        const std::string path = InScratch(row.file_name);
        row.prepare(OnHost(path));
        const bool existed = fs::exists(OnHost(path));

        bool succeeded = true;
        std::string printed = Printed([&] {
            succeeded = row.compress ? Compress_File(path) : UnCompress_File(path);
        });

        EXPECT_FALSE(succeeded);
        EXPECT_EQ(printed, std::string(row.compress ? "Compressing " : "UnCompressing ") + path +
                               "...\n\n Error : Compression Tool Failed On " + path + "! \n");
        EXPECT_EQ(RunOutcome(), Outcome::Failed);
        EXPECT_EQ(fs::exists(OnHost(path)), existed) << "a failed run must keep its input";
        EXPECT_FALSE(fs::exists(OnHost(path) + (row.compress ? ".bz2" : ".out")));
    }
    EXPECT_FALSE(fs::exists("ran-from-here"));
}

TEST_F(Bzip2BridgeTest, IsBz2LooksAtTheFirstTwoBytesOnly) {
    enum class Kind { File, Directory, Missing };
    struct Row {
        const char* name;
        Kind kind;
        std::string content;
        bool expected;
    };
    const Row rows[] = {
        {"text beginning with BZ", Kind::File, "BZ is no bzip2 data", true},
        {"exactly BZ", Kind::File, "BZ", true},
        {"only B", Kind::File, "B", false},
        {"ZB", Kind::File, "ZB", false},
        {"lower-case first byte", Kind::File, "bZh9", false},
        {"lower-case second byte", Kind::File, "Bzh9", false},
        {"empty file", Kind::File, "", false},
        {"directory", Kind::Directory, "", false},
        {"missing", Kind::Missing, "", false},
    };
    int row_number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = InScratch("entry" + std::to_string(++row_number));
        if (row.kind == Kind::File) WriteFile(OnHost(path), row.content);
        if (row.kind == Kind::Directory) fs::create_directory(OnHost(path));
        EXPECT_EQ(is_BZ2(path), row.expected);
    }
}

}  // namespace
