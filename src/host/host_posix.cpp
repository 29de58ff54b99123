// POSIX implementation of the host layer (see host.h for the contract).
#include "host/host.h"

#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

extern char** environ;

namespace host {
namespace {

Error LastError(const char* call) { return Error{errno, call}; }

std::string Replace(std::string_view text, char from, char to) {
    std::string result(text);
    std::replace(result.begin(), result.end(), from, to);
    return result;
}

// Retries a system call that was interrupted by a signal.
template <typename Call>
auto RetryOnInterrupt(Call call) {
    auto result = call();
    while (result == -1 && errno == EINTR) result = call();
    return result;
}

EntryKind KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return EntryKind::Directory;
    if (S_ISREG(mode)) return EntryKind::RegularFile;
    return EntryKind::Other;
}

// Whether a link that cannot be followed leads nowhere (broken, a loop, a
// file where a directory should be), rather than somewhere not to be seen.
bool LeadsNowhere(int code) { return code == ENOENT || code == ENOTDIR || code == ELOOP; }

// Classifies one entry of an open directory without following a link into a
// directory: only links to regular files count as the file they point to.
DirEntry DescribeEntry(int directory_fd, std::string name) {
    DirEntry entry{std::move(name), EntryKind::Other, 0, std::nullopt};
    struct stat info {};
    if (fstatat(directory_fd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        entry.error = LastError("fstatat");
        return entry;
    }
    entry.is_link = S_ISLNK(info.st_mode);
    if (entry.is_link) {
        if (fstatat(directory_fd, entry.name.c_str(), &info, 0) != 0) {
            if (!LeadsNowhere(errno)) entry.error = LastError("fstatat");
            return entry;
        }
        if (!S_ISREG(info.st_mode)) return entry;
    }
    entry.kind = KindOf(info.st_mode);
    if (entry.kind == EntryKind::RegularFile) entry.size = info.st_size;
    return entry;
}

// Directories with this many entries or more are looked at by two threads.
constexpr std::size_t kSplitListingMinimum = 64;

// Classifies the entries `names` of an open directory, in their order. A
// look at an entry is one system call, whose cost is mostly entering and
// leaving the kernel: a large directory is looked at in two halves at once,
// the second on a thread of its own.
std::vector<DirEntry> DescribeEntries(int directory_fd, std::vector<std::string>& names) {
    std::vector<DirEntry> entries(names.size());
    const auto describe = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) entries[i] = DescribeEntry(directory_fd, std::move(names[i]));
    };
    std::size_t half = names.size() / 2;
    std::thread helper;
    if (names.size() >= kSplitListingMinimum) {
        try {
            helper = std::thread(describe, half, names.size());
        } catch (const std::exception&) {
            half = names.size();  // no thread to be had: this one looks at all
        }
    } else {
        half = names.size();
    }
    describe(0, half);
    if (helper.joinable()) helper.join();
    return entries;
}

// Closes a descriptor without disturbing errno, which tells why the caller failed.
void CloseKeepingErrno(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

// Flags of each directory level on the way down a long path: only search
// permission is needed, as for a path resolved in one call, and no level
// may be a link.
constexpr int kLevelFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Opens `path` as openat(at_fd, path, flags) does, for a path of any length.
// One too long for a single call is reached one directory at a time: the
// longest front that one call takes (resolved as usual), then each further
// directory from the one before, none of them a link, then the last
// component with `flags` (a path ending in '/' has no such component: all
// of it is directories). Never holds more than two descriptors. Returns -1
// with errno set on failure.
int OpenAnyLength(int at_fd, const char* path, int flags) {
    const std::string_view whole(path);
    if (whole.size() < PATH_MAX) return RetryOnInterrupt([&] { return openat(at_fd, path, flags); });
    const std::size_t cut = whole.rfind('/', PATH_MAX - 1);
    if (cut == std::string_view::npos || cut == 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const std::string front(whole.substr(0, cut));
    int level_fd = RetryOnInterrupt(
        [&] { return openat(at_fd, front.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
    std::vector<std::string> parts;
    for (std::size_t begin = cut + 1; begin < whole.size();) {
        const std::size_t end = std::min(whole.find('/', begin), whole.size());
        if (end > begin) parts.emplace_back(whole.substr(begin, end - begin));
        begin = end + 1;
    }
    // A path that ends in '/' names a directory: its last component is a
    // directory level like the others.
    if (parts.empty()) parts.emplace_back(".");
    if (whole.back() == '/') flags |= O_DIRECTORY | O_NOFOLLOW;
    for (std::size_t i = 0; level_fd >= 0 && i + 1 < parts.size(); ++i) {
        const int next_fd =
            RetryOnInterrupt([&] { return openat(level_fd, parts[i].c_str(), kLevelFlags); });
        CloseKeepingErrno(level_fd);
        level_fd = next_fd;
    }
    if (level_fd < 0) return -1;
    const int fd = RetryOnInterrupt([&] { return openat(level_fd, parts.back().c_str(), flags); });
    CloseKeepingErrno(level_fd);
    return fd;
}

// Copies from `source` to `target` through `buffer` until `copied` reaches
// `count` or the source ends; returns the new `copied`.
Result<std::int64_t> CopyThroughBuffer(File& source, File& target, std::int64_t count,
                                       std::int64_t copied, std::vector<char>& buffer) {
    while (copied < count) {
        auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(count - copied, static_cast<std::int64_t>(buffer.size())));
        auto got = source.Read(buffer.data(), want);
        if (!got) return got.error();
        if (got.value() == 0) break;
        if (Status written = target.WriteAll(buffer.data(), got.value()); !written) {
            return written.error();
        }
        copied += static_cast<std::int64_t>(got.value());
    }
    return copied;
}

constexpr std::size_t kCopyBufferSize = 65536;
constexpr std::size_t kLargeCopyBufferSize = 1 << 20;

// Copies `count` bytes from offset `from` of one descriptor to offset `to`
// of the other through `buffer`, leaving both positions where they are;
// returns the bytes copied (fewer only at the end of the source).
Result<std::int64_t> CopyAt(int from_fd, std::int64_t from, int to_fd, std::int64_t to,
                            std::int64_t count, std::vector<char>& buffer) {
    std::int64_t copied = 0;
    while (copied < count) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(count - copied, static_cast<std::int64_t>(buffer.size())));
        const ssize_t got = RetryOnInterrupt(
            [&] { return pread(from_fd, buffer.data(), want, static_cast<off_t>(from + copied)); });
        if (got < 0) return LastError("read");
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = RetryOnInterrupt([&] {
                return pwrite(to_fd, buffer.data() + done, static_cast<std::size_t>(got - done),
                              static_cast<off_t>(to + copied + done));
            });
            if (put < 0) return LastError("write");
            done += put;
        }
        copied += got;
    }
    return copied;
}

// Copies this large or more are split in two halves copied at once.
constexpr std::int64_t kSplitCopyMinimum = std::int64_t{16} << 20;

// Copies `count` bytes from the read position of `from_fd` to the write
// position of `to_fd` (both regular files) as two halves at once, the second
// on a thread of its own: a copy through memory is bound by what one core
// moves, and two cores move it in little more than half the time. Both
// positions end after what was copied, as if it had been copied in one go;
// when the source ends early, nothing the second half wrote stays past that.
// Nothing when the copy cannot be split (no thread to be had, or a position
// that cannot be told); nothing has been copied then.
std::optional<Result<std::int64_t>> CopyInTwoHalves(int from_fd, int to_fd, std::int64_t count,
                                                    std::vector<char>& buffer) {
    struct stat target {};
    const off_t from = lseek(from_fd, 0, SEEK_CUR);
    const off_t to = lseek(to_fd, 0, SEEK_CUR);
    const int flags = fcntl(to_fd, F_GETFL);
    if (from < 0 || to < 0 || flags < 0 || (flags & O_APPEND) != 0 || fstat(to_fd, &target) != 0) {
        return std::nullopt;
    }
    const std::int64_t first = count / 2;
    Result<std::int64_t> second = std::int64_t{0};
    std::thread helper;
    try {
        helper = std::thread([&] {
            std::vector<char> own_buffer(buffer.size());
            second = CopyAt(from_fd, from + first, to_fd, to + first, count - first, own_buffer);
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
    Result<std::int64_t> copied = CopyAt(from_fd, from, to_fd, to, first, buffer);
    helper.join();
    if (!copied) return copied;
    if (copied.value() == first) {
        if (!second) return second;
        copied.value() += second.value();
    } else if (ftruncate(to_fd, std::max<off_t>(target.st_size, to + copied.value())) != 0) {
        return Result<std::int64_t>(LastError("write"));
    }
    if (lseek(from_fd, from + copied.value(), SEEK_SET) < 0) return Result<std::int64_t>(LastError("read"));
    if (lseek(to_fd, to + copied.value(), SEEK_SET) < 0) return Result<std::int64_t>(LastError("write"));
    return copied;
}

// Whether the read position of one file and the write position of the other
// lie at the same place within a page (also when either cannot tell).
bool SamePlaceInPage(int from_fd, int to_fd) {
    static const off_t page_size = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
    const off_t from = lseek(from_fd, 0, SEEK_CUR);
    const off_t to = lseek(to_fd, 0, SEEK_CUR);
    if (from < 0 || to < 0) return true;
    return from % page_size == to % page_size;
}

// The standard output as it was before SILENT, kept to bring it back.
int saved_output_fd = -1;

}  // namespace

std::string Error::Text() const { return std::string(call) + ": " + std::strerror(code); }

// ---- Paths -----------------------------------------------------------------

std::string ToHostPath(std::string_view program_path) { return Replace(program_path, '\\', '/'); }

std::string FromHostPath(std::string_view host_path) { return Replace(host_path, '/', '\\'); }

std::string OwnExecutablePath(const char* argv0) {
    std::string buffer(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length > 0 && static_cast<std::size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<std::size_t>(length));
        return FromHostPath(buffer);
    }
    return FromHostPath(argv0 != nullptr ? argv0 : "");
}

Status ChangeDirectory(const std::string& path) {
    if (chdir(ToHostPath(path).c_str()) != 0) return LastError("chdir");
    return {};
}

Result<std::string> CurrentDirectory() {
    std::string buffer(4096, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return LastError("getcwd");
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return FromHostPath(buffer);
}

Status CreateDirectory(const std::string& path) {
    return CreateDirectory(HostPath{ToHostPath(path)});
}

Status CreateDirectory(const HostPath& path) {
    if (mkdir(path.text.c_str(), 0777) != 0) return LastError("mkdir");
    return {};
}

Status RemoveFile(const std::string& path) {
    if (unlink(ToHostPath(path).c_str()) != 0) return LastError("unlink");
    return {};
}

Status RenameFile(const std::string& from, const std::string& to) {
    if (rename(ToHostPath(from).c_str(), ToHostPath(to).c_str()) != 0) return LastError("rename");
    return {};
}

Result<FileIdentity> IdentityOf(const std::string& path) {
    return IdentityOf(HostPath{ToHostPath(path)});
}

Result<FileIdentity> IdentityOf(const HostPath& path) {
    struct stat info {};
    if (stat(path.text.c_str(), &info) != 0) return LastError("stat");
    return FileIdentity{info.st_dev, info.st_ino};
}

Result<PathInfo> Examine(const std::string& path) {
    const std::string host_path = ToHostPath(path);
    struct stat info {};
    if (lstat(host_path.c_str(), &info) != 0) {
        if (errno == ENOENT) return PathInfo{};
        return LastError("lstat");
    }
    PathInfo result{true, S_ISLNK(info.st_mode), KindOf(info.st_mode)};
    if (result.is_link) {
        result.kind = stat(host_path.c_str(), &info) == 0 ? KindOf(info.st_mode) : EntryKind::Other;
    }
    return result;
}

namespace {

FileTime ModificationTime(const struct stat& info) {
    return FileTime{static_cast<std::int64_t>(info.st_mtim.tv_sec),
                    static_cast<std::uint32_t>(info.st_mtim.tv_nsec)};
}

// Both times of a file set to one modification time, for futimens and utimensat.
void TimesOf(FileTime mtime, struct timespec (&times)[2]) {
    times[0].tv_sec = static_cast<time_t>(mtime.seconds);
    times[0].tv_nsec = static_cast<long>(mtime.nanoseconds);
    times[1] = times[0];
}

}  // namespace

Result<LinkInfo> ExamineName(const HostPath& path) {
    struct stat info {};
    if (lstat(path.text.c_str(), &info) != 0) return LastError("lstat");
    return LinkInfo{S_ISLNK(info.st_mode), KindOf(info.st_mode),
                    static_cast<std::uint32_t>(info.st_mode & 07777), ModificationTime(info)};
}

Result<std::string> ReadLink(const HostPath& path) {
    std::string target(PATH_MAX, '\0');
    for (;;) {
        const ssize_t length = readlink(path.text.c_str(), target.data(), target.size());
        if (length < 0) return LastError("readlink");
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);  // it may have been cut: try with more room
    }
}

std::optional<std::string> LocalMinuteText(std::int64_t seconds) {
    const auto when = static_cast<time_t>(seconds);
    if (static_cast<std::int64_t>(when) != seconds) return std::nullopt;
    struct tm local {};
    if (localtime_r(&when, &local) == nullptr) return std::nullopt;
    char text[64];
    const std::size_t length = strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    if (length == 0) return std::nullopt;
    return std::string(text, length);
}

Result<std::string> ResolvedPath(const std::string& path) {
    char* resolved = realpath(ToHostPath(path).c_str(), nullptr);
    if (resolved == nullptr) return LastError("realpath");
    std::string result = FromHostPath(resolved);
    std::free(resolved);
    return result;
}

bool MayReplaceInFolder(const std::string& path) {
    const std::string host_path = ToHostPath(path);
    const std::size_t slash = host_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : host_path.substr(0, slash);
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
    struct stat folder_info {};
    struct stat file_info {};
    if (stat(folder.c_str(), &folder_info) != 0) return false;
    if ((folder_info.st_mode & S_ISVTX) == 0) return true;
    // In a sticky folder only the owner of the file or of the folder may
    // remove or replace the file.
    const uid_t user = geteuid();
    if (user == 0 || folder_info.st_uid == user) return true;
    return lstat(host_path.c_str(), &file_info) == 0 && file_info.st_uid == user;
}

bool PassesThroughLink(const std::string& path) {
    return PassesThroughLink(HostPath{ToHostPath(path)});
}

bool PassesThroughLink(const HostPath& path) {
    const std::string& host_path = path.text;
    for (std::size_t slash = host_path.find('/', 1); slash != std::string::npos;
         slash = host_path.find('/', slash + 1)) {
        struct stat info {};
        // A missing level (and all below it) is yet to be made: no link there.
        if (lstat(host_path.substr(0, slash).c_str(), &info) != 0) return false;
        if (S_ISLNK(info.st_mode)) return true;
    }
    return false;
}

// ---- Directory listing -----------------------------------------------------

Result<DirectoryListing> DirectoryListing::Open(const std::string& host_directory) {
    const int directory_fd =
        OpenAnyLength(AT_FDCWD, host_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory_fd < 0) return LastError("open");
    DIR* stream = fdopendir(directory_fd);
    if (stream == nullptr) {
        Error error = LastError("opendir");
        close(directory_fd);
        return error;
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* record = readdir(stream);
        if (record == nullptr) {
            if (errno == 0) break;
            Error error = LastError("readdir");
            closedir(stream);
            return error;
        }
        std::string_view name = record->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<DirEntry> entries = DescribeEntries(directory_fd, names);
    closedir(stream);  // closes directory_fd too
    return DirectoryListing(std::move(entries));
}

// ---- Files -----------------------------------------------------------------

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      temporary_name_(std::move(other.temporary_name_)),
      info_at_open_(std::exchange(other.info_at_open_, std::nullopt)),
      ahead_(std::move(other.ahead_)),
      ahead_begin_(std::exchange(other.ahead_begin_, 0)),
      ahead_end_(std::exchange(other.ahead_end_, 0)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        temporary_name_ = std::move(other.temporary_name_);
        info_at_open_ = std::exchange(other.info_at_open_, std::nullopt);
        ahead_ = std::move(other.ahead_);
        ahead_begin_ = std::exchange(other.ahead_begin_, 0);
        ahead_end_ = std::exchange(other.ahead_end_, 0);
    }
    return *this;
}

File::~File() {
    if (fd_ >= 0) close(fd_);
}

Result<File> File::OpenForReading(const std::string& path) {
    return OpenForReadingAt(AT_FDCWD, ToHostPath(path).c_str());
}

Result<File> File::OpenForReadingAt(int directory_fd, const char* host_path) {
    // Opening a FIFO that nobody writes to would wait forever; open without
    // waiting, then read as usual (such a FIFO simply reads as empty).
    int fd = OpenAnyLength(directory_fd, host_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return LastError("open");
    File file(fd);
    // Most callers measure what they opened: look at it now, while the
    // descriptor is fresh, and keep the answer.
    auto info = file.Info();
    if (info) file.info_at_open_ = info.value();
    // O_NONBLOCK changes nothing for a regular file; anything else gets
    // blocking reads back. It is the only status flag set above, so clearing
    // every status flag clears just that one.
    if (!info || info.value().kind != EntryKind::RegularFile) {
        if (fcntl(fd, F_SETFL, 0) != 0) return LastError("fcntl");
    }
    return file;
}

Result<File> File::CreateForWriting(const std::string& path) {
    int fd = RetryOnInterrupt([&] {
        return open(ToHostPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    });
    if (fd < 0) return LastError("open");
    return File(fd);
}

Result<File> File::CreateReplacing(const std::string& path) {
    return CreateReplacing(HostPath{ToHostPath(path)});
}

Result<File> File::CreateReplacing(const HostPath& path) {
    const std::string& host_path = path.text;
    // Another process may make the name again between the removal and the
    // creation; a few rounds settle it, and O_EXCL with O_NOFOLLOW makes sure
    // that what is opened is always a file this call created.
    for (int round = 0; round < 4; ++round) {
        int fd = RetryOnInterrupt([&] {
            return open(host_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        0666);
        });
        if (fd >= 0) return File(fd);
        if (errno != EEXIST) return LastError("open");
        struct stat info {};
        if (lstat(host_path.c_str(), &info) != 0) {
            if (errno == ENOENT) continue;
            return LastError("lstat");
        }
        if (S_ISDIR(info.st_mode)) return Error{EISDIR, "open"};
        if (unlink(host_path.c_str()) != 0 && errno != ENOENT) return LastError("unlink");
    }
    return Error{EEXIST, "open"};
}

Result<File> File::CreateNew(const std::string& path) {
    return CreateNew(HostPath{ToHostPath(path)});
}

Result<File> File::CreateNew(const HostPath& path) {
    int fd = RetryOnInterrupt([&] {
        return open(path.text.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
    if (fd < 0) return LastError("open");
    return File(fd);
}

Result<File> File::CreateTemporaryBeside(const std::string& path) {
    std::string pattern = ToHostPath(path) + ".tmpXXXXXX";
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return LastError("mkostemp");
    // mkostemp creates the file 0600; an archive gets the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    File file(fd);
    file.temporary_name_ = FromHostPath(pattern);
    return file;
}

Result<std::int64_t> File::Size() const {
    struct stat info {};
    if (fstat(fd_, &info) != 0) return LastError("fstat");
    if (S_ISDIR(info.st_mode)) return Error{EISDIR, "fstat"};
    // A FIFO, socket or device has no size to pack: its st_size means nothing.
    if (!S_ISREG(info.st_mode)) return Error{EINVAL, "fstat"};
    return static_cast<std::int64_t>(info.st_size);
}

std::string File::PathForChildren() const {
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_);
}

Status File::Rewind() {
    ahead_begin_ = ahead_end_ = 0;
    if (lseek(fd_, 0, SEEK_SET) < 0) return LastError("lseek");
    return {};
}

Result<FileIdentity> File::Identity() const {
    struct stat info {};
    if (fstat(fd_, &info) != 0) return LastError("fstat");
    return FileIdentity{info.st_dev, info.st_ino};
}

Result<FileInfo> File::Info() const {
    if (info_at_open_) return *info_at_open_;
    struct stat info {};
    if (fstat(fd_, &info) != 0) return LastError("fstat");
    FileInfo result;
    result.kind = KindOf(info.st_mode);
    if (result.kind == EntryKind::RegularFile) result.size = static_cast<std::int64_t>(info.st_size);
    result.identity = FileIdentity{info.st_dev, info.st_ino};
    result.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
    result.mtime = ModificationTime(info);
    return result;
}

void File::ReadAhead(std::size_t size) {
    // Bytes read ahead already stay in front of the new buffer.
    std::vector<char> ahead(std::max(size, ahead_end_ - ahead_begin_));
    std::copy(ahead_.begin() + static_cast<std::ptrdiff_t>(ahead_begin_),
              ahead_.begin() + static_cast<std::ptrdiff_t>(ahead_end_), ahead.begin());
    ahead_end_ -= ahead_begin_;
    ahead_begin_ = 0;
    ahead_ = std::move(ahead);
}

Result<std::size_t> File::ReadFromSystem(char* buffer, std::size_t capacity) {
    ssize_t count = RetryOnInterrupt([&] { return read(fd_, buffer, capacity); });
    if (count < 0) return LastError("read");
    return static_cast<std::size_t>(count);
}

// Hands out up to `capacity` bytes that were read ahead.
std::size_t File::TakeAhead(char* buffer, std::size_t capacity) {
    const std::size_t count = std::min(capacity, ahead_end_ - ahead_begin_);
    std::memcpy(buffer, ahead_.data() + ahead_begin_, count);
    ahead_begin_ += count;
    return count;
}

Result<std::size_t> File::Read(char* buffer, std::size_t capacity) {
    if (ahead_.empty()) return ReadFromSystem(buffer, capacity);
    if (ahead_begin_ == ahead_end_) {
        if (capacity >= ahead_.size()) return ReadFromSystem(buffer, capacity);
        auto filled = ReadFromSystem(ahead_.data(), ahead_.size());
        if (!filled) return filled.error();
        ahead_begin_ = 0;
        ahead_end_ = filled.value();
    }
    return TakeAhead(buffer, capacity);
}

Result<std::size_t> File::ReadFull(char* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        auto chunk = Read(buffer + done, count - done);
        if (!chunk) return chunk.error();
        if (chunk.value() == 0) break;
        done += chunk.value();
    }
    return done;
}

Result<std::size_t> File::Write(const char* data, std::size_t count) {
    ssize_t written = RetryOnInterrupt([&] { return write(fd_, data, count); });
    if (written < 0) return LastError("write");
    return static_cast<std::size_t>(written);
}

Status File::WriteAll(const char* data, std::size_t count) {
    while (count > 0) {
        ssize_t written = RetryOnInterrupt([&] { return write(fd_, data, count); });
        if (written < 0) return LastError("write");
        data += written;
        count -= static_cast<std::size_t>(written);
    }
    return {};
}

Status File::Skip(std::int64_t count) {
    const auto ahead = static_cast<std::int64_t>(ahead_end_ - ahead_begin_);
    if (count <= ahead) {
        ahead_begin_ += static_cast<std::size_t>(count);
        return {};
    }
    // The file's own position is past what was read ahead.
    if (lseek(fd_, static_cast<off_t>(count - ahead), SEEK_CUR) < 0) return LastError("lseek");
    ahead_begin_ = ahead_end_ = 0;
    return {};
}

Result<std::int64_t> File::CopyFrom(File& source, std::int64_t count) {
    std::int64_t copied = 0;
    // What the source has read ahead goes first; a rest smaller than its
    // buffer goes through the buffer too, a larger one through the kernel.
    while (copied < count && !source.ahead_.empty()) {
        if (source.ahead_begin_ == source.ahead_end_) {
            if (count - copied >= static_cast<std::int64_t>(source.ahead_.size())) break;
            auto filled = source.ReadFromSystem(source.ahead_.data(), source.ahead_.size());
            if (!filled) return filled.error();
            if (filled.value() == 0) return copied;
            source.ahead_begin_ = 0;
            source.ahead_end_ = filled.value();
        }
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(
            count - copied, static_cast<std::int64_t>(source.ahead_end_ - source.ahead_begin_)));
        if (Status written = WriteAll(source.ahead_.data() + source.ahead_begin_, piece); !written) {
            return written.error();
        }
        source.ahead_begin_ += piece;
        copied += static_cast<std::int64_t>(piece);
    }
    // The kernel copies page by page: when the two positions lie at different
    // places within a page, every source page lands on two pages of this
    // file, and going through a large buffer takes a quarter less time.
    if (count - copied >= static_cast<std::int64_t>(kLargeCopyBufferSize) &&
        !SamePlaceInPage(source.fd_, fd_)) {
        static std::vector<char> large_buffer(kLargeCopyBufferSize);
        if (count - copied >= kSplitCopyMinimum) {
            auto split = CopyInTwoHalves(source.fd_, fd_, count - copied, large_buffer);
            if (split && !split->ok()) return split->error();
            if (split) return copied + split->value();
        }
        return CopyThroughBuffer(source, *this, count, copied, large_buffer);
    }
    while (copied < count) {
        auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - copied, 1 << 30));
        ssize_t moved = RetryOnInterrupt(
            [&] { return copy_file_range(source.fd_, nullptr, fd_, nullptr, chunk, 0); });
        // The kernel will not copy between these files, or the copy failed
        // without telling which side: the buffer copy below goes on from the
        // same place, and a failure there names its side.
        if (moved < 0) break;
        if (moved == 0) return copied;
        copied += moved;
    }
    // Buffered copy through one 64 KiB buffer, never holding a file whole.
    std::vector<char> buffer(kCopyBufferSize);
    return CopyThroughBuffer(source, *this, count, copied, buffer);
}

Status File::Truncate(std::int64_t size) {
    if (RetryOnInterrupt([&] { return ftruncate(fd_, static_cast<off_t>(size)); }) != 0) {
        return LastError("ftruncate");
    }
    return {};
}

Status File::SetMode(std::uint32_t mode) {
    if (fchmod(fd_, static_cast<mode_t>(mode)) != 0) return LastError("fchmod");
    return {};
}

Status File::SetTimes(FileTime mtime) {
    struct timespec times[2];
    TimesOf(mtime, times);
    if (futimens(fd_, times) != 0) return LastError("futimens");
    return {};
}

Status File::SeekTo(std::int64_t offset) {
    if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return LastError("lseek");
    ahead_begin_ = ahead_end_ = 0;  // what was read ahead belonged to the old position
    return {};
}

Status File::Close() {
    info_at_open_.reset();
    int fd = std::exchange(fd_, -1);
    if (fd >= 0 && close(fd) != 0) return LastError("close");
    return {};
}

// ---- Folder ----------------------------------------------------------------

namespace {

// Six characters of a unique suffix, as mkostemp makes them.
std::string UniqueSuffix() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::uint64_t state = static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15ULL ^
                                 static_cast<std::uint64_t>(
                                     std::chrono::steady_clock::now().time_since_epoch().count());
    std::string suffix(6, 'X');
    for (char& c : suffix) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        c = kLetters[(state >> 33) % (sizeof kLetters - 1)];
    }
    return suffix;
}

constexpr int kUniqueAttempts = 100;

}  // namespace

Folder::Folder(Folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Folder::~Folder() {
    if (fd_ >= 0) close(fd_);
}

Result<Folder> Folder::Holding(const std::string& path, std::string& name) {
    const std::string host_path = ToHostPath(path);
    const std::size_t slash = host_path.rfind('/');
    name = slash == std::string::npos ? host_path : host_path.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : host_path.substr(0, slash);
    int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError("open");
    return Folder(fd);
}

Result<Folder> Folder::Open(const std::string& path) {
    int fd = open(ToHostPath(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError("open");
    return Folder(fd);
}

std::string Folder::PathTo(const std::string& name) const {
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd_) + "/" + name;
}

Result<File> Folder::CreateUnique(const std::string& stem, std::string& name) const {
    mode_t mask = umask(0);
    umask(mask);
    for (int attempt = 0; attempt < kUniqueAttempts; ++attempt) {
        std::string candidate = stem + UniqueSuffix();
        int fd = RetryOnInterrupt([&] {
            return openat(fd_, candidate.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666 & ~mask);
        });
        if (fd >= 0) {
            name = std::move(candidate);
            File file(fd);
            file.temporary_name_ = FromHostPath(name);
            return file;
        }
        if (errno != EEXIST) return LastError("open");
    }
    return Error{EEXIST, "open"};
}

Status Folder::LinkUnique(const std::string& target, const std::string& stem,
                          std::string& name) const {
    for (int attempt = 0; attempt < kUniqueAttempts; ++attempt) {
        std::string candidate = stem + UniqueSuffix();
        if (symlinkat(target.c_str(), fd_, candidate.c_str()) == 0) {
            name = std::move(candidate);
            return {};
        }
        if (errno != EEXIST) return LastError("symlinkat");
    }
    return Error{EEXIST, "symlinkat"};
}

Result<File> Folder::OpenForReading(const std::string& name) const {
    int fd = RetryOnInterrupt(
        [&] { return openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); });
    if (fd < 0) return LastError("open");
    return File(fd);
}

Result<PathInfo> Folder::Examine(const std::string& name) const {
    struct stat info {};
    if (fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return PathInfo{};
        return LastError("fstatat");
    }
    PathInfo result{true, S_ISLNK(info.st_mode), KindOf(info.st_mode)};
    if (result.is_link) {
        result.kind = fstatat(fd_, name.c_str(), &info, 0) == 0 ? KindOf(info.st_mode)
                                                                : EntryKind::Other;
    }
    return result;
}

Result<FileIdentity> Folder::IdentityOf(const std::string& name) const {
    struct stat info {};
    if (fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return LastError("fstatat");
    return FileIdentity{info.st_dev, info.st_ino};
}

Status Folder::Rename(const std::string& from, const std::string& to) const {
    if (renameat(fd_, from.c_str(), fd_, to.c_str()) != 0) return LastError("rename");
    return {};
}

Status Folder::Remove(const std::string& name) const {
    if (unlinkat(fd_, name.c_str(), 0) != 0) return LastError("unlink");
    return {};
}

Result<Folder> Folder::ForTemporaryFiles() {
    const char* directory = std::getenv("TMPDIR");
    if (directory == nullptr || *directory != '/') directory = "/tmp";
    int fd = open(directory, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError("open");
    return Folder(fd);
}

Result<Folder> Folder::Duplicate() const {
    int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return LastError("fcntl");
    return Folder(fd);
}

bool Folder::Writable() const {
    return faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

Result<Folder> Folder::OpenFolder(const std::string& name) const {
    int fd = RetryOnInterrupt([&] { return openat(fd_, name.c_str(), kLevelFlags); });
    if (fd < 0) return LastError("openat");
    return Folder(fd);
}

namespace {

// openat2 beneath `directory_fd` with no link anywhere on the way; -1 with
// errno set on failure (ENOSYS where the kernel or a sandbox lacks it).
int OpenBeneathInOneCall(int directory_fd, const std::string& relative_path) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    // EAGAIN: a rename elsewhere raced the lookup; the kernel asks for another try.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const long fd = RetryOnInterrupt([&] {
            return syscall(SYS_openat2, directory_fd, relative_path.c_str(), &how, sizeof how);
        });
        if (fd >= 0 || errno != EAGAIN) return static_cast<int>(fd);
    }
    return -1;
}

// Whether openat2 gave no answer about the path itself, so that walking it
// one component at a time is still worth doing.
bool OneCallUnavailable(int code) {
    return code == ENOSYS || code == EPERM || code == EAGAIN || code == ENAMETOOLONG;
}

}  // namespace

namespace {

// The components of a relative path, "." and empty ones left out.
std::vector<std::string> ComponentsOf(const std::string& relative_path) {
    std::vector<std::string> components;
    for (std::size_t begin = 0; begin < relative_path.size();) {
        const std::size_t end = std::min(relative_path.find('/', begin), relative_path.size());
        std::string component = relative_path.substr(begin, end - begin);
        if (!component.empty() && component != ".") components.push_back(std::move(component));
        begin = end + 1;
    }
    return components;
}

}  // namespace

Result<Folder> Folder::OpenBeneath(const std::string& relative_path) const {
    const std::vector<std::string> components = ComponentsOf(relative_path);
    // Nothing climbs, not even back into this folder: both ways of opening
    // give the same answer.
    if ((!relative_path.empty() && relative_path.front() == '/') ||
        std::find(components.begin(), components.end(), "..") != components.end()) {
        return Error{EXDEV, "openat2"};
    }
    const int fd = OpenBeneathInOneCall(fd_, relative_path);
    if (fd >= 0) return Folder(fd);
    if (!OneCallUnavailable(errno)) return LastError("openat2");
    Result<Folder> level = Duplicate();
    for (std::size_t i = 0; level && i < components.size(); ++i) {
        level = level.value().OpenFolder(components[i]);
    }
    return level;
}

Status Folder::MakeFolder(const std::string& name) const {
    if (mkdirat(fd_, name.c_str(), 0777) != 0) return LastError("mkdirat");
    return {};
}

Result<File> Folder::CreateNewFile(const std::string& name) const {
    int fd = RetryOnInterrupt([&] {
        return openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0666);
    });
    if (fd < 0) return LastError("openat");
    return File(fd);
}

Status Folder::MakeCurrent() const {
    if (fchdir(fd_) != 0) return LastError("fchdir");
    return {};
}

// A folder is held by an O_PATH descriptor, which fchmod and futimens do not
// take: its entry in /proc/self/fd leads to the very directory held, without
// needing the right to read it.
Status Folder::SetMode(std::uint32_t mode) const {
    const std::string held = "/proc/self/fd/" + std::to_string(fd_);
    if (chmod(held.c_str(), static_cast<mode_t>(mode)) != 0) return LastError("chmod");
    return {};
}

Status Folder::SetTimes(FileTime mtime) const {
    struct timespec times[2];
    TimesOf(mtime, times);
    const std::string held = "/proc/self/fd/" + std::to_string(fd_);
    if (utimensat(AT_FDCWD, held.c_str(), times, 0) != 0) return LastError("utimensat");
    return {};
}

Status Folder::MakeLink(const std::string& target, const std::string& name) const {
    if (symlinkat(target.c_str(), fd_, name.c_str()) != 0) return LastError("symlinkat");
    return {};
}

Status Folder::SetTimesOf(const std::string& name, FileTime mtime) const {
    struct timespec times[2];
    TimesOf(mtime, times);
    if (utimensat(fd_, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return LastError("utimensat");
    }
    return {};
}

// ---- FileOpener ------------------------------------------------------------

FileOpener::FileOpener(FileOpener&& other) noexcept
    : directories_(std::move(other.directories_)),
      seen_(std::move(other.seen_)),
      returns_(other.returns_),
      keep_directories_(other.keep_directories_),
      retired_(std::move(other.retired_)) {
    other.directories_.clear();
    other.seen_.clear();
    other.last_directory_ = nullptr;
    other.retired_.clear();
}

FileOpener& FileOpener::operator=(FileOpener&& other) noexcept {
    if (this != &other) {
        CloseRetired();
        CloseDirectories();
        directories_ = std::move(other.directories_);
        seen_ = std::move(other.seen_);
        returns_ = other.returns_;
        keep_directories_ = other.keep_directories_;
        retired_ = std::move(other.retired_);
        other.directories_.clear();
        other.seen_.clear();
        other.last_directory_ = nullptr;
        other.retired_.clear();
    }
    return *this;
}

FileOpener::~FileOpener() {
    CloseRetired();
    CloseDirectories();
}

Result<File> FileOpener::OpenForReading(const std::string& host_path) {
    const std::lock_guard<std::mutex> held(lock_);
    auto opened = Open(host_path);
    // Descriptors held by the opener must not make an open fail.
    if (!opened && opened.error().code == EMFILE) {
        CloseRetired();
        CloseDirectories();
        opened = Open(host_path);
    }
    return opened;
}

Result<File> FileOpener::Open(const std::string& host_path) {
    const std::size_t slash = host_path.rfind('/');
    // A bare name, or a path that ends in a separator: nothing to keep.
    if (slash == std::string::npos || slash + 1 == host_path.size()) {
        return File::OpenForReadingAt(AT_FDCWD, host_path.c_str());
    }
    const int directory_fd = DirectoryFd(std::string_view(host_path.data(), slash + 1));
    // A directory that cannot be held open: the whole path gives the reason.
    if (directory_fd < 0) return File::OpenForReadingAt(AT_FDCWD, host_path.c_str());
    return File::OpenForReadingAt(directory_fd, host_path.c_str() + slash + 1);
}

int FileOpener::DirectoryFd(std::string_view directory) {
    static constexpr std::size_t kMostDirectories = 256;
    if (last_directory_ != nullptr && last_directory_->first == directory) {
        return last_directory_->second;
    }
    if (!keep_directories_) {
        // A list in directory order comes back to a directory seldom (to a
        // parent after a sub-directory); one sorted otherwise comes back all
        // the time, and then keeping the directories open pays.
        CloseDirectories();
        if (!seen_.emplace(directory, 0).second) ++returns_;
        keep_directories_ = returns_ > seen_.size();
        if (keep_directories_) seen_.clear();
    }
    auto found = directories_.find(directory);
    if (found == directories_.end()) {
        if (directories_.size() >= kMostDirectories) CloseDirectories();
        std::string name(directory);
        int fd = OpenAnyLength(AT_FDCWD, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && errno == EMFILE) return -1;  // worth another try later
        if (fd >= 0 && keep_directories_) fd = MoveAboveFiles(fd);
        found = directories_.emplace(std::move(name), fd).first;
    }
    last_directory_ = &*found;
    return found->second;
}

// Gives a directory that stays open a descriptor number above those of the
// files: the files then get consecutive numbers, and retired ones close in
// runs (see CloseRetired). Where the limit on descriptors is too low for
// that, the number stays as it is.
int FileOpener::MoveAboveFiles(int fd) {
    static constexpr int kFirstDirectoryFd = 256;
    if (fd >= kFirstDirectoryFd) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kFirstDirectoryFd);
    if (moved < 0) return fd;
    close(fd);
    return moved;
}

void FileOpener::CloseDirectories() {
    for (const auto& [name, fd] : directories_) {
        if (fd >= 0) close(fd);
    }
    directories_.clear();
    last_directory_ = nullptr;
}

void FileOpener::Retire(File file) {
    static constexpr std::size_t kBatch = 64;
    if (file.fd_ < 0) return;
    const std::lock_guard<std::mutex> held(retired_lock_);
    retired_.push_back(std::exchange(file.fd_, -1));
    if (retired_.size() >= kBatch) CloseRetiredHeld();
}

void FileOpener::CloseRetired() {
    const std::lock_guard<std::mutex> held(retired_lock_);
    CloseRetiredHeld();
}

// Closes the retired descriptors, each run of consecutive numbers (the usual
// case: a descriptor is the lowest free number when it is opened) at once.
void FileOpener::CloseRetiredHeld() {
    std::sort(retired_.begin(), retired_.end());
    std::size_t first = 0;
    while (first < retired_.size()) {
        std::size_t last = first;
        while (last + 1 < retired_.size() && retired_[last + 1] == retired_[last] + 1) ++last;
        const auto low = static_cast<unsigned>(retired_[first]);
        const auto high = static_cast<unsigned>(retired_[last]);
        if (low == high || close_range(low, high, 0) != 0) {
            for (std::size_t i = first; i <= last; ++i) close(retired_[i]);
        }
        first = last + 1;
    }
    retired_.clear();
}

// ---- FilesAhead ------------------------------------------------------------

namespace {

// Files that may wait open; the thread goes on once half of them are taken.
constexpr std::size_t kFilesWaiting = 32;
// Below this many descriptors allowed, files are not opened ahead: those
// waiting would leave the writer and the opener's directories too few.
constexpr rlim_t kDescriptorsForOpeningAhead = 1024;

bool EnoughDescriptorsToOpenAhead() {
    rlimit limit{};
    return getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur >= kDescriptorsForOpeningAhead;
}
// The caller, once it has waited, goes on when this many are ready.
constexpr std::size_t kFilesReadyToGoOn = 8;

}  // namespace

FilesAhead::FilesAhead(FileOpener& opener, std::size_t count, PathOf path_of) : opener_(opener) {
    if (!EnoughDescriptorsToOpenAhead()) {
        done_ = true;  // every file is opened when taken
        return;
    }
    try {
        thread_ = std::thread([this, count, path_of = std::move(path_of)] { OpenAll(count, path_of); });
    } catch (const std::exception&) {
        done_ = true;  // no thread to be had: every file is opened when taken
    }
}

FilesAhead::~FilesAhead() {
    {
        const std::lock_guard<std::mutex> held(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (Result<File>& file : ready_) {
        if (file) opener_.Retire(std::move(file.value()));
    }
}

void FilesAhead::OpenAll(std::size_t count, const PathOf& path_of) {
    std::string host_path;
    for (std::size_t index = 0; index < count; ++index) {
        {
            std::unique_lock<std::mutex> held(lock_);
            if (ready_.size() >= kFilesWaiting) {
                opener_waits_ = true;
                changed_.wait(held, [&] { return stopping_ || ready_.size() <= kFilesWaiting / 2; });
                opener_waits_ = false;
            }
            if (stopping_) break;
        }
        path_of(index, host_path);
        Result<File> file = opener_.OpenForReading(host_path);
        // Out of descriptors: the files waiting hold some; the caller opens
        // this one and the rest once it has used those.
        const bool out_of_descriptors = !file && file.error().code == EMFILE;
        const std::lock_guard<std::mutex> held(lock_);
        if (out_of_descriptors) break;
        ready_.push_back(std::move(file));
        if (taker_waits_ && ready_.size() >= kFilesReadyToGoOn) changed_.notify_all();
    }
    const std::lock_guard<std::mutex> held(lock_);
    done_ = true;
    changed_.notify_all();
}

Result<File> FilesAhead::Take(const std::string& host_path) {
    std::unique_lock<std::mutex> held(lock_);
    if (ready_.empty() && !done_) {
        taker_waits_ = true;
        changed_.wait(held, [&] { return done_ || ready_.size() >= kFilesReadyToGoOn; });
        taker_waits_ = false;
    }
    if (ready_.empty()) {
        held.unlock();
        return opener_.OpenForReading(host_path);
    }
    Result<File> file = std::move(ready_.front());
    ready_.pop_front();
    if (opener_waits_ && ready_.size() <= kFilesWaiting / 2) changed_.notify_all();
    return file;
}

// ---- The process -----------------------------------------------------------

namespace {

// The program RunAndWait is waiting for, 0 when none: the interrupt handler
// ends it before the run ends.
volatile sig_atomic_t running_child = 0;

// Host paths of the files an interrupted run removes. A slot holds a string
// of its own (strdup), so the handler reads nothing that the program is
// changing: a path is published whole and taken back whole.
constexpr std::size_t kTemporarySlots = 32;
std::atomic<char*> temporary_files[kTemporarySlots];

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Asks the running program to end and waits for it, two seconds at most
// before it is killed outright, so it has stopped writing before the
// temporary files go.
void EndRunningChild() {
    const pid_t child = running_child;
    if (child <= 0) return;
    kill(child, SIGTERM);
    const timespec pause{0, 10 * 1000 * 1000};
    for (int round = 0; round < 200; ++round) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) != 0) return;
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

void CleanUpAndReraise(int signal_number) {
    EndRunningChild();
    for (std::atomic<char*>& slot : temporary_files) {
        if (char* path = slot.load(); path != nullptr) unlink(path);
    }
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    sigset_t only_this;
    sigemptyset(&only_this);
    sigaddset(&only_this, signal_number);
    sigprocmask(SIG_UNBLOCK, &only_this, nullptr);
    raise(signal_number);
}

}  // namespace

void EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is this one: the ones below are open.
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

void InstallInterruptCleanup() {
    struct sigaction action {};
    action.sa_handler = CleanUpAndReraise;
    sigemptyset(&action.sa_mask);
    for (int signal_number : kCleanupSignals) sigaddset(&action.sa_mask, signal_number);
    for (int signal_number : kCleanupSignals) {
        struct sigaction previous {};
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal_number, &action, nullptr);
    }
}

TemporaryFileGuard::TemporaryFileGuard(const Folder& folder, const std::string& name) {
    Register(folder.PathTo(name));
}

TemporaryFileGuard::TemporaryFileGuard(const std::string& path) { Register(ToHostPath(path)); }

void TemporaryFileGuard::Register(const std::string& host_path) {
    char* copy = strdup(host_path.c_str());
    if (copy == nullptr) return;
    for (std::size_t slot = 0; slot < kTemporarySlots; ++slot) {
        char* expected = nullptr;
        if (temporary_files[slot].compare_exchange_strong(expected, copy)) {
            slot_ = static_cast<int>(slot);
            return;
        }
    }
    std::free(copy);  // every slot taken: this file is not removed on a signal
}

TemporaryFileGuard::TemporaryFileGuard(TemporaryFileGuard&& other) noexcept
    : slot_(std::exchange(other.slot_, -1)) {}

TemporaryFileGuard& TemporaryFileGuard::operator=(TemporaryFileGuard&& other) noexcept {
    if (this != &other) {
        Release();
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

TemporaryFileGuard::~TemporaryFileGuard() { Release(); }

void TemporaryFileGuard::Release() {
    if (slot_ < 0) return;
    std::free(temporary_files[std::exchange(slot_, -1)].exchange(nullptr));
}

// ---- Console ---------------------------------------------------------------

namespace {
bool output_ends_line = true;
}  // namespace

void Print(std::string_view text) {
    if (text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), stdout);
    output_ends_line = text.back() == '\n';
}

void PrintError(std::string_view text) {
    std::fflush(stdout);  // what was printed before comes first on a shared terminal
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

bool OutputIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool OutputBroken() { return std::ferror(stdout) != 0; }

bool OutputEndsLine() { return output_ends_line; }

void FlushOutput() { std::fflush(stdout); }

bool OutputFailed() {
    std::fflush(stdout);
    return std::ferror(stdout) != 0;
}

void FlushProgress() {
    using Clock = std::chrono::steady_clock;
    static constexpr auto kInterval = std::chrono::milliseconds(100);
    static Clock::time_point last_flush;
    const Clock::time_point now = Clock::now();
    if (now - last_flush < kInterval) return;
    last_flush = now;
    std::fflush(stdout);
}

Status DetachOutput() {
    if (saved_output_fd >= 0) return {};  // already detached
    std::fflush(stdout);
    int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0) return LastError("open");
    saved_output_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_output_fd < 0) {
        Error error = LastError("fcntl");
        close(null_fd);
        return error;
    }
    int redirected = dup2(null_fd, STDOUT_FILENO);
    Error error = LastError("dup2");
    close(null_fd);
    if (redirected < 0) {
        close(std::exchange(saved_output_fd, -1));
        return error;
    }
    return {};
}

Status AttachOutput() {
    if (saved_output_fd < 0) return {};  // not detached
    std::fflush(stdout);
    int restored = dup2(saved_output_fd, STDOUT_FILENO);
    Error error = LastError("dup2");
    close(std::exchange(saved_output_fd, -1));
    if (restored < 0) return error;
    return {};
}

bool InputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

void WaitForEnter() {
    std::string line;
    std::getline(std::cin, line);
}

// ---- Processes -------------------------------------------------------------

namespace {

Result<pid_t> Spawn(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) return Error{ENOENT, "posix_spawnp"};
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    std::fflush(stdout);  // the child's output must follow what we printed
    // The child starts with the default disposition of every signal this
    // process handles or ignores (a broken pipe ends it as usual).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    for (int signal_number : kCleanupSignals) sigaddset(&defaults, signal_number);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int code = posix_spawnp(&pid, arguments[0], nullptr, &attributes, arguments.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (code != 0) return Error{code, "posix_spawnp"};
    return pid;
}

}  // namespace

Result<ProcessEnd> RunAndWait(const std::vector<std::string>& argv) {
    auto pid = Spawn(argv);
    if (!pid) return pid.error();
    running_child = pid.value();
    int status = 0;
    const int waited = RetryOnInterrupt([&] { return waitpid(pid.value(), &status, 0); });
    running_child = 0;
    if (waited < 0) return LastError("waitpid");
    ProcessEnd end;
    if (WIFEXITED(status)) {
        end.exited = true;
        end.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
    }
    return end;
}

Status RunDetached(const std::vector<std::string>& argv) {
    auto pid = Spawn(argv);
    if (!pid) return pid.error();
    return {};
}

}  // namespace host
