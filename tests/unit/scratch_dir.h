// Test fixtures on the real file system: a scratch directory that lives as
// long as the object, tiny helpers to write and read whole files, and a
// capture of what the code under test prints on standard output.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace testing_support {

// The same path with each '/' turned into a backslash, as the program writes
// paths inside.
inline std::string ProgramForm(std::string host_path) {
    std::replace(host_path.begin(), host_path.end(), '/', '\\');
    return host_path;
}

// A fresh directory under /tmp, removed with everything in it on destruction.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/varkel-test-XXXXXX";
        if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Host form: "/tmp/varkel-test-abc123".
    const std::string& path() const { return path_; }
    // Host form of a path inside: "/tmp/varkel-test-abc123/relative".
    std::string Path(const std::string& relative) const { return path_ + "/" + relative; }
    // Program form (backslashes) of a path inside.
    std::string ProgramPath(const std::string& relative) const {
        return ProgramForm(Path(relative));
    }

private:
    std::string path_;
};

// Makes `directory` the current directory until the object goes away.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& directory)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(directory);
    }
    ~ScopedCurrentDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

// Writes exactly these bytes to a host path, replacing the file.
inline void WriteBytes(const std::string& host_path, const std::string& bytes) {
    std::ofstream out(host_path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + host_path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The whole content of a host path; empty when it cannot be read.
inline std::string ReadBytes(const std::string& host_path) {
    std::ifstream in(host_path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes `depth` directories named `name`, each inside the one before, below
// the directory `root` (host path). Each is made and entered from the one
// above it, so the chain may reach far past PATH_MAX. Returns a descriptor
// of the deepest; the caller closes it.
inline int MakeDirectoryChain(const std::string& root, const std::string& name, int depth) {
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        if (mkdirat(fd, name.c_str(), 0755) != 0 && errno != EEXIST) break;
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    if (fd < 0) throw std::runtime_error("cannot make a chain of directories in " + root);
    return fd;
}

// `name` + '/' `depth` times: the relative path to the deepest of a chain.
inline std::string ChainPath(const std::string& name, int depth) {
    std::string path;
    for (int level = 0; level < depth; ++level) path += name + "/";
    return path;
}

// Writes exactly these bytes to a file in an open directory.
inline void WriteBytesAt(int directory_fd, const std::string& name, const std::string& bytes) {
    const int fd = openat(directory_fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("cannot write " + name);
    }
    close(fd);
}

// `count` bytes of a repeating, non-trivial pattern, so that a copy that
// loses or reorders a block shows.
inline std::string PatternBytes(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return bytes;
}

// Runs `body` with file descriptor 1 sent to a temporary file and returns
// what reached it. Works below the C stream, so it also sees what a body
// does to descriptor 1 itself (such as sending it elsewhere and back).
template <typename Body>
std::string CaptureStdout(Body body) {
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    if (sink == nullptr) throw std::runtime_error("tmpfile failed");
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(sink), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string captured;
    std::rewind(sink);
    for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink)) captured += static_cast<char>(c);
    std::fclose(sink);
    return captured;
}

}  // namespace testing_support
