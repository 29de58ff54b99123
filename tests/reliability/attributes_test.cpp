// Round trips with ATTRIBUTES=ON: a tree of everything a Linux user keeps
// (an empty directory, a script of mode 755, links to a file and to a
// directory, a dangling link, a name with a backslash, sticky and private
// directories, an old time with nanoseconds) and a copy of the system's
// package documentation come back equal under diff --no-dereference, with
// the same permission bits and modification times, links included.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "reliability_support.h"

namespace {

using namespace reliability;

// Runs a shell command; its exit status.
int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

void MakeSmallTree(const std::string& root) {
    const std::string q = Quoted(root);
    ASSERT_EQ(Shell("mkdir -p " + q + "/empty " + q + "/sub/deeper " + q + "/sticky " + q +
                    "/private && cd " + q +
                    " && printf 'echo hi\\n' > run.sh && chmod 755 run.sh"
                    " && printf data > sub/deeper/f.txt && printf b > 'back\\slash'"
                    " && printf c > 'sub/a name with blanks' && chmod 640 'sub/a name with blanks'"
                    " && ln -s run.sh link && ln -s sub dirlink && ln -s 'no where' dangling"
                    " && ln -s '../back\\slash' sub/up && chmod 1777 sticky && chmod 700 private"
                    " && touch -h -d '2001-02-03 04:05:06.123456789' link run.sh sub empty"),
              0);
}

// Every entry below `root` with its mode and time, links included.
std::string Listing(const std::string& root) {
    const std::string file = root + ".listing";
    EXPECT_EQ(Shell("cd " + Quoted(root) + " && find . -mindepth 1 -printf '%M %T@ %p\\n' | sort > " +
                    Quoted(file)),
              0);
    return ReadBytes(file);
}

TEST(AttributeTrips, TreesComeBackWithModesTimesDirectoriesAndLinks) {
    struct Case {
        const char* label;
        std::string tree;  // empty: the small tree made here
        bool compressed;
        bool sorted;  // OPTIMIZE=SIZE puts directory records anywhere
    };
    const std::vector<Case> cases = {
        {"small tree", "", false, false},
        {"small tree, sorted by size", "", false, true},
        {"package documentation", "/usr/share/doc", false, false},
        {"package documentation, compressed", "/usr/share/doc", true, false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.label);
        ScratchDir scratch;
        const std::string source = scratch.Path("source");
        if (row.tree.empty()) {
            MakeSmallTree(source);
        } else if (!fs::is_directory(row.tree)) {
            continue;
        } else {
            ASSERT_EQ(Shell("cp -a " + Quoted(row.tree) + " " + Quoted(source)), 0);
        }
        std::vector<std::string> job = {"ATTRIBUTES=ON", "CHDIR_IN=source", "ADDDIR=source"};
        if (row.sorted) job.push_back("OPTIMIZE=SIZE");
        if (row.compressed) job.insert(job.begin(), "COMPRESS=ON");
        for (const char* line : {"PACK=x.dat", "CHDIR_IN=.", "CHDIR_OUT=restored", "UNPACK=x.dat"}) {
            job.push_back(line);
        }

        const Ended ended = RunJob(scratch.path(), job);

        EXPECT_EQ(ended.Describe(), "exit 0") << ended.output.substr(0, 4000);
        EXPECT_EQ(Shell("diff -r --no-dereference " + Quoted(source) + " " +
                        Quoted(scratch.Path("restored"))),
                  0);
        EXPECT_EQ(Listing(scratch.Path("restored")), Listing(source));
    }
}

// Without ATTRIBUTES=ON, or with it switched off again, archives are what
// they always were: the same job gives the same bytes.
TEST(AttributeTrips, JobsWithAttributesOffGiveTheSameArchive) {
    ScratchDir scratch;
    MakeSmallTree(scratch.Path("source"));
    const std::vector<std::string> pack = {"CHDIR_IN=source", "ADDDIR=source", "ADDFILE=source/link",
                                           "PACK=x.dat"};
    ASSERT_EQ(RunJob(scratch.path(), pack).Describe(), "exit 0");
    const std::string plain = ReadBytes(scratch.Path("x.dat"));
    std::vector<std::string> switched = {"ATTRIBUTES=ON", "ATTRIBUTES=OFF"};
    switched.insert(switched.end(), pack.begin(), pack.end());
    ASSERT_EQ(RunJob(scratch.path(), switched).Describe(), "exit 0");
    EXPECT_EQ(ReadBytes(scratch.Path("x.dat")), plain);
    EXPECT_EQ(plain.find(std::string("\0mode=", 6)), std::string::npos);
}

}  // namespace
