// A tree holding everything that is not a plain file: a FIFO, a socket, link
// loops, a broken link, a link to a directory, and sparse files of exactly
// 2^31 - 1 bytes (the largest the format holds) and 2^31 bytes (one too
// many). The pack finishes, packs what it can, and says what it skipped.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "reliability_support.h"

namespace {

using namespace reliability;

void MakeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(fd);  // the socket file stays
}

void MakeSparse(const std::string& path, std::uintmax_t size) {
    WriteBytes(path, "");
    fs::resize_file(path, size);
}

TEST(UnusualEntries, PackFinishesAndSaysWhatItSkipped) {
    ScratchDir scratch;
    const std::string src = scratch.Path("src");
    fs::create_directories(src + "/sub");
    ASSERT_EQ(mkfifo((src + "/fifo").c_str(), 0644), 0);
    MakeSocket(src + "/socket");
    fs::create_symlink("self-loop", src + "/self-loop");
    fs::create_symlink("loop-b", src + "/loop-a");
    fs::create_symlink("loop-a", src + "/loop-b");
    fs::create_directory_symlink("..", src + "/sub/up");  // would recurse forever if followed
    fs::create_symlink("missing", src + "/broken");
    WriteBytes(src + "/small", "small");
    fs::create_symlink("small", src + "/link-to-small");
    WriteBytes(src + "/sub/inside", "inside");
    constexpr std::uintmax_t kLargest = (std::uintmax_t{1} << 31) - 1;
    MakeSparse(src + "/largest", kLargest);
    MakeSparse(src + "/too-large", kLargest + 1);

    const Ended ended =
        RunJob(scratch.path(), {"CHDIR_IN=src", "ADDDIR=src", "PACK=x.dat"});

    // Too large is a failure: a backup job must not lose a file in silence.
    EXPECT_EQ(ended.Describe(), "exit 2") << ended.output;
    const std::vector<std::string> skipped = {"broken", "fifo", "loop-a", "loop-b", "self-loop",
                                              "socket", "sub\\up"};
    for (const std::string& name : skipped) {
        EXPECT_NE(ended.output.find("\nSkipping src\\" + name + ": not a regular file or directory\n"),
                  std::string::npos)
            << name << "\n" << ended.output;
    }
    EXPECT_NE(ended.output.find("\n Error : File Too Large For Archive src\\too-large! \n"),
              std::string::npos)
        << ended.output;
    EXPECT_NE(ended.output.find("Packing 4 files in x.dat\n"), std::string::npos) << ended.output;

    const ArchiveInfo archive = InspectArchive(scratch.Path("x.dat"));
    EXPECT_TRUE(archive.well_formed);
    ASSERT_EQ(archive.records.size(), 4u);
    const std::vector<std::pair<std::string, std::int64_t>> expected = {
        {"largest", static_cast<std::int64_t>(kLargest)},
        {"link-to-small", 5},
        {"small", 5},
        {"sub\\inside", 6},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(archive.records[i].name, expected[i].first);
        EXPECT_EQ(archive.records[i].size, expected[i].second);
    }
    EXPECT_EQ(fs::file_size(scratch.Path("x.dat")),
              12 + (8 + 7 + kLargest) + (8 + 13 + 5) + (8 + 5 + 5) + (8 + 10 + 6));
    Figure("special files", "a tree of 13 entries (FIFO, socket, 3 link loops, link to a directory, broken "
                            "link, link to a file, sparse files of 2^31-1 and 2^31 bytes): " +
                                std::to_string(skipped.size()) + " skipped with a notice, 1 refused as too "
                                "large, 4 packed (a 2 GiB - 1 byte record among them)");
}

}  // namespace
