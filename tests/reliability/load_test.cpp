// Load: a tree of 100,000 small files packs and unpacks identically, and a
// 1 GiB file is packed and unpacked with a small, fixed amount of memory
// (the copy is streamed, never held whole).
#include <gtest/gtest.h>

#include <string>

#include "reliability_support.h"

namespace {

using namespace reliability;

constexpr bool kSanitized = VARKEL_SANITIZED;

TEST(Load, HundredThousandSmallFilesRoundTrip) {
    ScratchDir scratch;
    constexpr int kDirectories = 500;
    constexpr int kFilesPerDirectory = 200;
    for (int d = 0; d < kDirectories; ++d) {
        const std::string directory = scratch.Path("src/d" + std::to_string(d));
        fs::create_directories(directory);
        for (int f = 0; f < kFilesPerDirectory; ++f) {
            const int n = d * kFilesPerDirectory + f;
            // Distinct contents of varied length, some of them empty.
            WriteBytes(directory + "/f" + std::to_string(f),
                       std::string(static_cast<std::size_t>(n % 37), static_cast<char>('a' + n % 26)) +
                           (n % 5 == 0 ? "" : std::to_string(n)));
        }
    }
    const Limits kMeasured{std::nullopt, !kSanitized};
    const Ended packed = RunJob(scratch.path(), {"CHDIR_IN=src", "ADDDIR=src", "PACK=x.dat"}, kMeasured);
    EXPECT_EQ(packed.Describe(), "exit 0") << packed.output.substr(0, 2000);
    // The action list keeps a directory once for all its files and each bare
    // name once: 100,000 entries take a few MiB, where a path and a name
    // string apiece took over 20.
    if (!kSanitized) {
        EXPECT_LT(packed.max_rss_kib, 12 * 1024) << "peak memory while packing";
    }
    const Ended ended = RunJob(scratch.path(), {"CHDIR_OUT=restored", "UNPACK=x.dat"});
    EXPECT_EQ(ended.Describe(), "exit 0") << ended.output.substr(0, 2000);
    const TreeComparison comparison = CompareTrees(scratch.Path("src"), scratch.Path("restored"));
    EXPECT_TRUE(comparison.identical()) << comparison.Summary();
    EXPECT_EQ(comparison.files_compared, 100000u);
    Figure("load: many files", std::to_string(comparison.files_compared) +
                                   " small files in 500 directories packed (peak resident memory " +
                                   std::to_string(packed.max_rss_kib) + " KiB), unpacked and compared");
}

TEST(Load, GibibyteFilePacksInFixedMemory) {
    if (kSanitized) GTEST_SKIP() << "the sanitizers' own memory hides the program's";
    const Limits kMeasured{std::nullopt, true};
    ScratchDir scratch;
    WriteBytes(scratch.Path("big"), "");
    fs::resize_file(scratch.Path("big"), std::uintmax_t{1} << 30);  // sparse: no room taken

    const Ended packed = RunJob(scratch.path(), {"ADDFILE=big,big", "PACK=x.dat"}, kMeasured);
    EXPECT_EQ(packed.Describe(), "exit 0") << packed.output;
    EXPECT_EQ(fs::file_size(scratch.Path("x.dat")), 12 + 8 + 3 + (std::uintmax_t{1} << 30));
    EXPECT_LT(packed.max_rss_kib, 16 * 1024) << "peak memory while packing 1 GiB";
    fs::remove(scratch.Path("big"));

    const Ended unpacked = RunJob(scratch.path(), {"CHDIR_OUT=restored", "UNPACK=x.dat"}, kMeasured);
    EXPECT_EQ(unpacked.Describe(), "exit 0") << unpacked.output;
    EXPECT_EQ(fs::file_size(scratch.Path("restored/big")), std::uintmax_t{1} << 30);
    EXPECT_LT(unpacked.max_rss_kib, 16 * 1024) << "peak memory while unpacking 1 GiB";
    Figure("load: peak memory", "1 GiB file packed with a peak resident memory of " +
                                    std::to_string(packed.max_rss_kib) + " KiB and unpacked with " +
                                    std::to_string(unpacked.max_rss_kib) + " KiB (bound: 16384 KiB)");
}

}  // namespace
