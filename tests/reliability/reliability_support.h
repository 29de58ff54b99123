// Shared tools of the reliability suite: the real program run as a child
// process (with a file-size or open-files limit, as an unprivileged user,
// with a deadline, its peak memory measured),
// job scripts, a model of what the directory walker packs, a file-for-file
// comparison of two trees, and sentinels that prove nothing was touched
// outside an output directory.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"

namespace reliability {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// The program under test and the build directory it lies in (with the
// compression tool beside it).
inline std::string BuildDir() { return VARKEL_BINARY_DIR; }
inline std::string Program() { return BuildDir() + "/varkel"; }
inline constexpr const char* kToolName = "bzip2-102-x86-win32.exe";

// Figures for docs/reliability.md: one line per test family, collected by
// scripts/reliability-report.sh from the test output.
inline void Figure(const std::string& family, const std::string& text) {
    std::printf("[figure] %s: %s\n", family.c_str(), text.c_str());
    std::fflush(stdout);
}

// ---- Running the program -------------------------------------------------------

struct Limits {
    std::optional<rlim_t> file_size;  // RLIMIT_FSIZE, with SIGXFSZ ignored
    bool measure_memory = false;      // fill Ended::max_rss_kib with the program's peak
    std::optional<rlim_t> open_files{};  // RLIMIT_NOFILE
    std::optional<uid_t> user{};         // run as this user (and group of the same number)
};

// The unprivileged user that permission tests run the program as.
inline constexpr uid_t kNobody = 65534;

struct Ended {
    bool exited = false;
    int exit_code = -1;
    int signal = 0;
    bool timed_out = false;
    long max_rss_kib = 0;  // peak resident memory, when measured
    std::string output;    // its standard output
    std::string errors;    // its standard error
    // "exit 2", "signal 9", "timed out": for messages.
    std::string Describe() const {
        if (timed_out) return "timed out";
        return exited ? "exit " + std::to_string(exit_code) : "signal " + std::to_string(signal);
    }
};

// A started program. Its output goes to unlinked temporary files, so it never
// waits on a full pipe while the test watches it from outside.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& directory,
          const Limits& limits = {}) {
        output_fd_ = UnlinkedTemporary();
        errors_fd_ = UnlinkedTemporary();
        std::fflush(stdout);
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            if (chdir(directory.c_str()) != 0) _exit(126);
            const int input = open("/dev/null", O_RDONLY);
            dup2(input, STDIN_FILENO);
            dup2(output_fd_, STDOUT_FILENO);
            dup2(errors_fd_, STDERR_FILENO);
            if (limits.file_size) {
                signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
                const rlimit limit{*limits.file_size, *limits.file_size};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (limits.open_files) {
                const rlimit limit{*limits.open_files, *limits.open_files};
                setrlimit(RLIMIT_NOFILE, &limit);
            }
            if (limits.user && (setgroups(0, nullptr) != 0 || setgid(*limits.user) != 0 ||
                                setuid(*limits.user) != 0)) {
                _exit(125);
            }
            std::vector<char*> args;
            for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(output_fd_);
        close(errors_fd_);
    }

    pid_t pid() const { return pid_; }
    void Kill(int signal_number) { kill(pid_, signal_number); }

    // Waits for the end, killing the child when it runs past the deadline.
    Ended Wait(std::chrono::seconds deadline = std::chrono::seconds(300)) {
        Ended ended;
        const auto give_up = std::chrono::steady_clock::now() + deadline;
        int status = 0;
        rusage usage{};
        std::chrono::microseconds nap(20);
        for (;;) {
            const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
            if (done == pid_) break;
            if (std::chrono::steady_clock::now() > give_up) {
                ended.timed_out = true;
                kill(pid_, SIGKILL);
                wait4(pid_, &status, 0, &usage);
                break;
            }
            // Short naps first: most runs end within a few milliseconds.
            std::this_thread::sleep_for(nap);
            nap = std::min(nap * 2, std::chrono::microseconds(2000));
        }
        pid_ = -1;
        ended.exited = WIFEXITED(status);
        if (ended.exited) ended.exit_code = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) ended.signal = WTERMSIG(status);
        ended.output = ReadAll(output_fd_);
        ended.errors = ReadAll(errors_fd_);
        return ended;
    }

private:
    static int UnlinkedTemporary() {
        char pattern[] = "/tmp/varkel-reliability-output-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        unlink(pattern);
        return fd;
    }
    static std::string ReadAll(int fd) {
        std::string text;
        char buffer[65536];
        for (off_t at = 0;; ) {
            const ssize_t got = pread(fd, buffer, sizeof buffer, at);
            if (got <= 0) break;
            text.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
        return text;
    }

    pid_t pid_ = -1;
    int output_fd_ = -1;
    int errors_fd_ = -1;
};

// Runs `program` (the real one by default) with these arguments in `directory`.
// With limits.measure_memory it runs under the peak-memory probe, a small
// process of its own: a child forked straight from this (large) test process
// would count the pages it carried until it started the program.
inline Ended RunProgram(const std::vector<std::string>& arguments, const std::string& directory,
                        const Limits& limits = {}, const std::string& program = Program()) {
    std::vector<std::string> argv;
    std::string result_file;
    if (limits.measure_memory) {
        char pattern[] = "/tmp/varkel-reliability-rss-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        close(fd);
        result_file = pattern;
        argv = {VARKEL_PEAK_MEMORY, result_file};
    }
    argv.push_back(program);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Child child(argv, directory, limits);
    Ended ended = child.Wait();
    if (limits.measure_memory) {
        ended.max_rss_kib = std::stol("0" + ReadBytes(result_file));
        unlink(result_file.c_str());
    }
    return ended;
}

// Writes a job script of these lines into `directory` and runs it there.
inline Ended RunJob(const std::string& directory, const std::vector<std::string>& lines,
                    const Limits& limits = {}, const std::string& program = Program()) {
    std::string script;
    for (const std::string& line : lines) script += line + "\n";
    WriteBytes(directory + "/job.vkjob", script);
    return RunProgram({"job.vkjob"}, directory, limits, program);
}

// A copy of the program alone in `directory`, so that its start directory
// holds whatever compression tool a test puts there, or none.
inline std::string CopyProgramTo(const std::string& directory) {
    const std::string copy = directory + "/varkel";
    fs::copy_file(Program(), copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_all);
    return copy;
}

// ---- Trees ---------------------------------------------------------------------------

// Names in `directory` that start with `prefix`.
inline std::vector<std::string> NamesStartingWith(const std::string& directory,
                                                  const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    return names;
}

// Sends `signal_number` to the child once a file in `directory` whose name
// starts with `prefix` (a temporary archive in the making) has reached
// `size` bytes; false when that did not happen within a minute.
inline bool SignalWhenFileReaches(Child& child, const std::string& directory,
                                  const std::string& prefix, std::uintmax_t size,
                                  int signal_number) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up) {
        for (const std::string& name : NamesStartingWith(directory, prefix)) {
            std::error_code error;
            if (fs::file_size(directory + "/" + name, error) >= size && !error) {
                child.Kill(signal_number);
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}


// What the directory walker packs from `root`, by path relative to it: real
// directories are entered, regular files and links to regular files are
// packed (a link as its target's content); FIFOs, sockets, devices, links to
// directories and broken links are skipped.
inline std::map<std::string, fs::path> PackableFiles(const fs::path& root) {
    std::map<std::string, fs::path> files;
    std::vector<fs::path> pending{root};
    while (!pending.empty()) {
        const fs::path directory = pending.back();
        pending.pop_back();
        for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
            std::error_code error;
            const fs::file_status own = entry.symlink_status(error);
            if (fs::is_directory(own)) {
                pending.push_back(entry.path());
            } else if (fs::is_regular_file(own) ||
                       (fs::is_symlink(own) && fs::is_regular_file(fs::status(entry.path(), error)))) {
                files[entry.path().lexically_relative(root).string()] = entry.path();
            }
        }
    }
    return files;
}

// Every regular file under `root` (links are not followed), by relative path.
inline std::map<std::string, fs::path> RegularFilesUnder(const fs::path& root) {
    std::map<std::string, fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (fs::is_regular_file(entry.symlink_status())) {
            files[entry.path().lexically_relative(root).string()] = entry.path();
        }
    }
    return files;
}

// Whether two files hold the same bytes, read in blocks.
inline bool SameContent(const fs::path& a, const fs::path& b) {
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    if (!left || !right) return false;
    std::vector<char> left_block(1 << 16);
    std::vector<char> right_block(1 << 16);
    for (;;) {
        left.read(left_block.data(), static_cast<std::streamsize>(left_block.size()));
        right.read(right_block.data(), static_cast<std::streamsize>(right_block.size()));
        if (left.gcount() != right.gcount()) return false;
        if (std::memcmp(left_block.data(), right_block.data(),
                        static_cast<std::size_t>(left.gcount())) != 0) {
            return false;
        }
        if (left.gcount() == 0) return true;
    }
}

struct TreeComparison {
    std::size_t files_compared = 0;
    std::uint64_t bytes_compared = 0;
    std::vector<std::string> missing;     // packable but not restored
    std::vector<std::string> extra;       // restored but not packable
    std::vector<std::string> different;   // restored with other bytes
    bool identical() const { return missing.empty() && extra.empty() && different.empty(); }
    std::string Summary() const {
        std::string text = std::to_string(missing.size()) + " missing, " +
                           std::to_string(extra.size()) + " extra, " +
                           std::to_string(different.size()) + " different";
        for (const auto* list : {&missing, &extra, &different}) {
            for (std::size_t i = 0; i < list->size() && i < 5; ++i) text += "\n  " + (*list)[i];
        }
        return text;
    }
};

// Compares what the walker packs from `source` with what was restored.
inline TreeComparison CompareTrees(const fs::path& source, const fs::path& restored) {
    TreeComparison comparison;
    const auto expected = PackableFiles(source);
    const auto actual = RegularFilesUnder(restored);
    for (const auto& [name, path] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            comparison.missing.push_back(name);
            continue;
        }
        ++comparison.files_compared;
        std::error_code error;
        comparison.bytes_compared += fs::file_size(found->second, error);
        if (!SameContent(path, found->second)) comparison.different.push_back(name);
    }
    for (const auto& [name, path] : actual) {
        if (expected.count(name) == 0) comparison.extra.push_back(name);
    }
    return comparison;
}

// ---- Sentinels -----------------------------------------------------------------------

// A directory's entries with what each is (type, size, content of small
// files, link target), so any change inside it shows as a difference.
inline std::map<std::string, std::string> Snapshot(const fs::path& directory) {
    std::map<std::string, std::string> state;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        std::string what = std::to_string(info.st_mode) + ":" + std::to_string(info.st_size) + ":" +
                           std::to_string(info.st_nlink);
        if (S_ISREG(info.st_mode) && info.st_size < 4096) what += ":" + ReadBytes(entry.path());
        if (S_ISLNK(info.st_mode)) what += ":" + fs::read_symlink(entry.path()).string();
        state[entry.path().filename().string()] = what;
    }
    return state;
}

// ---- Archives read back by an independent parser --------------------------------------

inline std::int32_t Int32At(const std::string& bytes, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return static_cast<std::int32_t>(bits);
}

// What a reader must conclude from these bytes, by the format alone.
enum class Verdict {
    NotAnArchive,  // shorter than a header, or not "VK"
    NothingRead,   // a file count below 1
    Sound,         // every record complete and plausible
    Broken,        // a record cut short or damaged
};

// Whether a name field with an exact form after a NUL has one that does not
// mirror the part before the NUL ('/' standing for '\\'): a damaged record.
inline bool HasMismatchedExactName(const std::string& field) {
    const std::size_t nul = field.find('\0');
    if (nul == std::string::npos) return false;
    std::string exact = field.substr(nul + 1);
    exact = exact.substr(0, exact.find('\0'));
    if (exact.empty()) return false;
    std::replace(exact.begin(), exact.end(), '/', '\\');
    return exact != field.substr(0, nul);
}

inline Verdict Judge(const std::string& bytes) {
    if (bytes.size() < 12 || bytes[0] != 'V' || bytes[1] != 'K') return Verdict::NotAnArchive;
    if (Int32At(bytes, 8) < 1) return Verdict::NothingRead;
    std::size_t at = 12;
    while (at < bytes.size()) {
        if (bytes.size() - at < 8) return Verdict::Broken;
        const std::int32_t data_size = Int32At(bytes, at);
        const std::int32_t name_length = Int32At(bytes, at + 4);
        if (data_size < 0 || name_length < 0 || name_length > 16384) return Verdict::Broken;
        at += 8;
        const auto need = static_cast<std::size_t>(data_size) + static_cast<std::size_t>(name_length);
        if (bytes.size() - at < need) return Verdict::Broken;
        if (HasMismatchedExactName(bytes.substr(at, static_cast<std::size_t>(name_length)))) {
            return Verdict::Broken;
        }
        at += need;
    }
    return Verdict::Sound;
}

// Record headers of an archive file on disk (names and sizes), read without
// loading the data, so archives of gigabytes can be checked.
struct RecordInfo {
    std::string name;
    std::int64_t size = 0;
};
struct ArchiveInfo {
    std::int32_t file_count = -1;
    std::vector<RecordInfo> records;
    bool well_formed = false;  // the last record ends exactly at the end of the file
};
inline ArchiveInfo InspectArchive(const std::string& path) {
    ArchiveInfo info;
    std::ifstream in(path, std::ios::binary);
    std::string header(12, '\0');
    if (!in.read(header.data(), 12)) return info;
    info.file_count = Int32At(header, 8);
    const auto end = static_cast<std::int64_t>(fs::file_size(path));
    std::int64_t at = 12;
    while (at < end) {
        std::string entry(8, '\0');
        in.seekg(at);
        if (!in.read(entry.data(), 8)) return info;
        const std::int32_t size = Int32At(entry, 0);
        const std::int32_t name_length = Int32At(entry, 4);
        if (size < 0 || name_length < 0) return info;
        std::string name(static_cast<std::size_t>(name_length), '\0');
        if (!in.read(name.data(), name_length)) return info;
        info.records.push_back({name, size});
        at += 8 + name_length + static_cast<std::int64_t>(size);
    }
    info.well_formed = at == end;
    return info;
}

}  // namespace reliability
