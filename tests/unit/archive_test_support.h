// Fixtures for the archive engine's tests: a scratch directory with the job
// state reset, archives crafted byte by byte, an independent parser of the
// archive layout, and a child process whose files may not grow past a limit.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/job_state.h"
#include "archive/outcome.h"
#include "archive/writer.h"
#include "host/host.h"
#include "scratch_dir.h"

namespace archive_testing {

using testing_support::ProgramForm;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// ---- Crafting archives (written out by hand, not through the product) --------

inline std::string Int32Bytes(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
            static_cast<char>((bits >> 16) & 0xFF), static_cast<char>((bits >> 24) & 0xFF)};
}

inline std::string ArchiveHeader(std::int32_t file_count) {
    return std::string("VK1\0", 4) + Int32Bytes(0) + Int32Bytes(file_count);
}

inline std::string EntryHeader(std::int32_t data_size, std::int32_t name_length) {
    return Int32Bytes(data_size) + Int32Bytes(name_length);
}

inline std::string Record(const std::string& name, const std::string& data) {
    return EntryHeader(static_cast<std::int32_t>(data.size()),
                       static_cast<std::int32_t>(name.size())) +
           name + data;
}

// ---- Reading archives back ------------------------------------------------------

struct StoredRecord {
    std::string name;
    std::string data;
    bool operator==(const StoredRecord&) const = default;
};

inline void PrintTo(const StoredRecord& record, std::ostream* out) {
    *out << "{" << record.name << ", " << record.data.size() << " bytes}";
}

struct ParsedArchive {
    std::string signature;  // the first four bytes, padding included
    std::int32_t size_field = -1;
    std::int32_t file_count = -1;
    std::vector<StoredRecord> records;
    bool well_formed = false;  // false when a record runs past the end
};

inline std::int32_t Int32At(const std::string& bytes, std::size_t at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return static_cast<std::int32_t>(bits);
}

inline ParsedArchive ParseArchive(const std::string& bytes) {
    ParsedArchive parsed;
    if (bytes.size() < 12) return parsed;
    parsed.signature = bytes.substr(0, 4);
    parsed.size_field = Int32At(bytes, 4);
    parsed.file_count = Int32At(bytes, 8);
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const auto data_size = static_cast<std::size_t>(Int32At(bytes, at));
        const auto name_length = static_cast<std::size_t>(Int32At(bytes, at + 4));
        at += 8;
        if (at + name_length + data_size > bytes.size()) return parsed;
        parsed.records.push_back(
            {bytes.substr(at, name_length), bytes.substr(at + name_length, data_size)});
        at += name_length + data_size;
    }
    parsed.well_formed = at == bytes.size();
    return parsed;
}

// ---- Fixture -----------------------------------------------------------------------

// A scratch directory holding "src" (sources) and "out" (DIR_OUT), with the
// job state, the outcome and the writer's seam reset, and the current
// directory put back afterwards (the reader moves it).
class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(scratch.Path("src"));
        std::filesystem::create_directories(scratch.Path("out"));
        ResetJob();
    }
    // A fresh job writing to "out", for each row of a table as for each test.
    void ResetJob() {
        ResetJobState();
        ResetOutcome();
        SetPackSourceHook({});
        DIR_OUT = scratch.ProgramPath("out") + "\\";
    }
    void TearDown() override {
        SetPackSourceHook({});
        std::filesystem::current_path(previous_directory_);
    }

    // Writes a source file and lists it under `stored_name`.
    void AddSource(const std::string& file_name, const std::string& content,
                   const std::string& stored_name) {
        WriteBytes(scratch.Path("src/" + file_name), content);
        AddListed(scratch.ProgramPath("src/" + file_name), stored_name);
    }
    // Lists a source path given in program form, as ADDFILE does: in host
    // form, whether it exists or not.
    static void AddListed(const std::string& source, const std::string& stored_name) {
        system_add_file(host::ToHostPath(source), stored_name, 0);
    }
    std::string Out(const std::string& relative) const { return scratch.Path("out/" + relative); }
    std::string ArchiveBytes(const std::string& name = "a.vk") const { return ReadBytes(Out(name)); }

    // The names in `directory` (host form), sorted.
    static std::vector<std::string> NamesIn(const std::string& directory) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir scratch;

private:
    std::filesystem::path previous_directory_ = std::filesystem::current_path();
};

// ---- A full disk -------------------------------------------------------------------

// Runs `body` in a child process whose files may not grow past `limit` bytes.
// SIGXFSZ is ignored there, so a write past the limit fails with EFBIG as on
// a full disk instead of killing the child. The child's standard output goes
// to `output_path`; the result is its exit status: the run's outcome.
template <typename Body>
int RunWithFileSizeLimit(rlim_t limit, const std::string& output_path, Body body) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        const int output = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(output, STDOUT_FILENO);
        close(output);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit file_size_limit{limit, limit};
        setrlimit(RLIMIT_FSIZE, &file_size_limit);
        body();
        std::fflush(stdout);
        _exit(static_cast<int>(RunOutcome()));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace archive_testing
