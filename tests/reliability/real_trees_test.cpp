// Round trips of real trees that no one here wrote: the system's C headers
// and its package documentation, packed with ADDDIR and unpacked elsewhere,
// plain and compressed, must come back identical file for file (what the
// walker skips left aside: FIFOs, sockets, links to directories, broken
// links; a link to a file comes back as a file with its target's content).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reliability_support.h"

namespace {

using namespace reliability;

TEST(RealTrees, RoundTripsAreIdenticalFileForFile) {
    struct Case {
        std::string tree;
        bool compressed;
    };
    const std::vector<Case> cases = {
        {"/usr/include", false},
        {"/usr/include", true},
        {"/usr/share/doc", false},
        {"/usr/share/doc", true},
    };
    std::size_t files = 0;
    std::uint64_t bytes = 0;
    int trips = 0;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.tree + (row.compressed ? ", compressed" : ", plain"));
        if (!fs::is_directory(row.tree)) {
            std::printf("%s is missing here: row skipped\n", row.tree.c_str());
            continue;
        }
        ScratchDir scratch;
        std::vector<std::string> job = {"CHDIR_IN=" + row.tree, "ADDDIR=" + row.tree, "PACK=x.dat",
                                        "CHDIR_IN=.", "CHDIR_OUT=restored", "UNPACK=x.dat"};
        if (row.compressed) job.insert(job.begin(), "COMPRESS=ON");

        const Ended ended = RunJob(scratch.path(), job);

        EXPECT_EQ(ended.Describe(), "exit 0") << ended.output.substr(0, 4000);
        EXPECT_EQ(ended.output.find("Error"), std::string::npos) << ended.output.substr(0, 4000);
        if (row.compressed) {
            EXPECT_NE(ended.output.find("Compressing x.dat...\n"), std::string::npos);
            EXPECT_NE(ended.output.find("UnCompressing .\\x.dat...\n"), std::string::npos);
        }
        const TreeComparison comparison = CompareTrees(row.tree, scratch.Path("restored"));
        EXPECT_TRUE(comparison.identical()) << comparison.Summary();
        EXPECT_GT(comparison.files_compared, 100u);
        files += comparison.files_compared;
        bytes += comparison.bytes_compared;
        ++trips;
    }
    Figure("real trees", std::to_string(trips) + " round trips (/usr/include and /usr/share/doc, plain "
                                                 "and compressed): " +
                             std::to_string(files) + " files, " + std::to_string(bytes >> 20) +
                             " MiB compared byte for byte");
}

}  // namespace
