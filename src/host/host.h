// The host layer: the only part of Varkel that talks to the operating system.
//
// Contract, stated once for every function below:
//  * Paths come in and go out in the program's form: the backslash is the
//    directory separator. Each backslash becomes '/' the moment a path reaches
//    the file system or a started program (ToHostPath), and a path typed by a
//    user on this host is brought into the program's form with FromHostPath.
//    The exceptions say so: DirectoryListing, FileOpener and Folder take host
//    paths ('/' separators, every other byte as the file system names it),
//    since they serve names found in listings, where a backslash is part of
//    a name; so do the overloads that take a HostPath, a path that is in host
//    form already and reaches the file system unchanged.
//  * A path too long for one system call (PATH_MAX bytes or more) is reached
//    one directory at a time from an open ancestor wherever these functions
//    open a file or a directory for reading.
//  * Every operation that can fail returns a Result (or Status) that carries
//    the errno and the name of the system call that failed, so a caller can
//    print "mkdir: No such file or directory" without extra plumbing.
//  * Nothing here prints, except the console functions, which write the
//    program's own standard output.
//  * Every descriptor is opened with O_CLOEXEC: a started program inherits
//    only the standard streams.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace host {

// A failed system call: its errno and its name.
struct Error {
    int code = 0;
    const char* call = "";
    // "call: message", e.g. "mkdir: Permission denied".
    std::string Text() const;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
    Result(Error error) : state_(error) {}         // NOLINT: implicit by design
    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// The result of an operation that yields nothing but success or failure.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(error) {}  // NOLINT: implicit by design
    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

// ---- Paths -----------------------------------------------------------------

// Program form to host form: each backslash becomes '/'.
std::string ToHostPath(std::string_view program_path);
// Host form to program form: each '/' becomes a backslash.
std::string FromHostPath(std::string_view host_path);

// A path in host form: '/' is its only separator, and a backslash is an
// ordinary byte of a name (a Linux name may hold one). Used as it is.
struct HostPath {
    std::string text;
};

// The program's own file, from /proc/self/exe, falling back to argv0; in the
// program's form. A program started through a link or by its bare name on
// PATH still gets its real file.
std::string OwnExecutablePath(const char* argv0);

Status ChangeDirectory(const std::string& path);
Result<std::string> CurrentDirectory();
// Creates one directory (default permissions, narrowed by the umask).
Status CreateDirectory(const std::string& path);
Status CreateDirectory(const HostPath& path);
Status RemoveFile(const std::string& path);
Status RenameFile(const std::string& from, const std::string& to);

// Identity of a file on this host, for telling whether two names are one file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
Result<FileIdentity> IdentityOf(const std::string& path);
Result<FileIdentity> IdentityOf(const HostPath& path);

// Whether this process may replace the existing file `path` by a rename in
// its folder: the folder can be written and searched, and in a sticky folder
// the file or the folder is this user's (or the user is root).
bool MayReplaceInFolder(const std::string& path);

// Whether one of the directories along the path (every component but the
// last, as far as they exist) is a symbolic link, so that creating the path
// would land wherever the link points.
bool PassesThroughLink(const std::string& path);
bool PassesThroughLink(const HostPath& path);

// ---- Directory listing -----------------------------------------------------

enum class EntryKind {
    Directory,    // a real directory (a link to a directory is Other)
    RegularFile,  // a regular file, or a symbolic link to one
    Other,        // FIFO, socket, device, link to a directory, broken link
};

struct DirEntry {
    std::string name;  // the bare name, no directory part, exactly as listed
    EntryKind kind = EntryKind::Other;
    std::int64_t size = 0;  // bytes; 0 for anything but a regular file
    // Set when the entry could not be examined (kind is then Other): in a
    // directory that may be read but not searched, say.
    std::optional<Error> error;
    bool is_link = false;  // the name itself is a symbolic link (kind: what it leads to)
};

// A modification time: seconds and nanoseconds since the epoch.
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// What lstat tells about a name, the name itself and never a link's target.
struct LinkInfo {
    bool is_link = false;
    EntryKind kind = EntryKind::Other;  // of the name itself (a link is Other)
    std::uint32_t mode = 0;             // the permission bits (07777)
    FileTime mtime;
};
Result<LinkInfo> ExamineName(const HostPath& path);
// The target of the symbolic link `path`, as it is written in the link.
Result<std::string> ReadLink(const HostPath& path);

// What lies under a name: nothing, a file of some kind, or a symbolic link
// (then `kind` tells what the link leads to; Other when it leads nowhere).
struct PathInfo {
    bool exists = false;
    bool is_link = false;
    EntryKind kind = EntryKind::Other;
};
// Fails only when the name cannot be looked at (ENOENT is "does not exist").
Result<PathInfo> Examine(const std::string& path);
// The name with every link and "." or ".." resolved (realpath), absolute.
Result<std::string> ResolvedPath(const std::string& path);
// One directory's entries, read whole when it is opened: every entry but "."
// and "..", sorted by name in byte order (so the same tree always yields the
// same archive), each with its kind and size. The directory is closed before
// Open returns, so a walk over a tree of any depth holds no descriptor while
// it descends. `host_directory` is a host path of any length.
class DirectoryListing {
public:
    // Fails when the directory cannot be opened or read to its end.
    static Result<DirectoryListing> Open(const std::string& host_directory);
    const std::vector<DirEntry>& entries() const { return entries_; }
    std::vector<DirEntry>& entries() { return entries_; }

private:
    explicit DirectoryListing(std::vector<DirEntry> entries) : entries_(std::move(entries)) {}
    std::vector<DirEntry> entries_;
};

// ---- Files -----------------------------------------------------------------

// What one look at an open file tells: what it is, how big, which file.
struct FileInfo {
    EntryKind kind = EntryKind::Other;  // an open file is never a link: it is what it points to
    std::int64_t size = 0;              // bytes; 0 for anything but a regular file
    FileIdentity identity;
    std::uint32_t mode = 0;  // the permission bits (07777)
    FileTime mtime;
};

// An open file, closed when the object goes away.
class File {
public:
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    static Result<File> OpenForReading(const std::string& path);
    // Creates the file or truncates an existing one.
    static Result<File> CreateForWriting(const std::string& path);
    // Creates a file that does not exist yet; fails (EEXIST) when the name is
    // taken, by anything, a dangling link included.
    static Result<File> CreateNew(const std::string& path);
    static Result<File> CreateNew(const HostPath& path);
    // Creates a new file under the name. Whatever held the name before (a
    // file, or a link to anything) is removed first, never written through,
    // so the new bytes cannot reach a link's target or a file known by other
    // names too. A directory under the name is left alone (EISDIR).
    static Result<File> CreateReplacing(const std::string& path);
    static Result<File> CreateReplacing(const HostPath& path);
    // Creates a new, uniquely named file in the directory of `path`, named
    // after it; TemporaryName() tells its name (program form).
    static Result<File> CreateTemporaryBeside(const std::string& path);

    bool is_open() const { return fd_ >= 0; }
    // A path that reaches this open file through this process's descriptor
    // table (/proc/<pid>/fd/N): a program started from here reads exactly
    // this file, whatever happens to its name meanwhile.
    std::string PathForChildren() const;
    // Moves the read position back to the start.
    Status Rewind();
    const std::string& TemporaryName() const { return temporary_name_; }

    Result<std::int64_t> Size() const;
    Result<FileIdentity> Identity() const;
    // The file as OpenForReading found it when it opened it (that look costs
    // nothing more); a file opened otherwise is looked at now.
    Result<FileInfo> Info() const;
    // From now on reads `size` bytes ahead at a time and serves small reads,
    // skips and copies out of them: a file read in many small pieces costs
    // one system call per `size` bytes. The read position stays what the
    // reads so far have taken.
    void ReadAhead(std::size_t size);
    // Reads what the file delivers at once, at most `capacity` bytes; 0 at the end.
    Result<std::size_t> Read(char* buffer, std::size_t capacity);
    // Reads until `count` bytes or the end of the file; returns the bytes read.
    Result<std::size_t> ReadFull(char* buffer, std::size_t count);
    // Writes what the file takes at once of `count` bytes (one system call);
    // returns how many bytes that was.
    Result<std::size_t> Write(const char* data, std::size_t count);
    Status WriteAll(const char* data, std::size_t count);
    // Moves the read position `count` bytes forward (count >= 0).
    Status Skip(std::int64_t count);
    // Copies up to `count` bytes from the read position of `source` to this
    // file, in the kernel where it can; returns the bytes copied (fewer only
    // at the end of `source`). A failure tells which side failed: its call is
    // "read" when reading `source` failed and "write" when writing this file
    // failed (a kernel copy that fails cannot tell, so the piece is tried
    // again through a buffer). A copy of 16 MiB or more between two regular
    // files is made as two halves at once, the second on a thread of its own.
    Result<std::int64_t> CopyFrom(File& source, std::int64_t count);
    // Cuts the file to `size` bytes (ftruncate); the position stays.
    Status Truncate(std::int64_t size);
    // Moves the file position to `offset` from the start (lseek).
    Status SeekTo(std::int64_t offset);
    // Sets the permission bits (fchmod) and the access and modification
    // times (futimens, both to `mtime`).
    Status SetMode(std::uint32_t mode);
    Status SetTimes(FileTime mtime);
    Status Close();

private:
    friend class FileOpener;
    friend class Folder;
    static Result<File> OpenForReadingAt(int directory_fd, const char* host_path);
    explicit File(int fd) : fd_(fd) {}
    Result<std::size_t> ReadFromSystem(char* buffer, std::size_t capacity);
    std::size_t TakeAhead(char* buffer, std::size_t capacity);
    int fd_ = -1;
    std::string temporary_name_;
    std::optional<FileInfo> info_at_open_;
    std::vector<char> ahead_;  // empty unless ReadAhead was asked for
    std::size_t ahead_begin_ = 0;  // ahead_[ahead_begin_, ahead_end_) is read but not taken
    std::size_t ahead_end_ = 0;
};

// A folder held open by its descriptor: files are created, renamed and
// removed in it by name relative to the descriptor, so the folder may be
// renamed or moved meanwhile and every name still lands in it. Names given
// to its functions are single components in host form (no conversion).
class Folder {
public:
    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    // The folder that holds `path` (program form): its directory part, or
    // the current directory for a bare name. `name` receives the last
    // component in host form.
    static Result<Folder> Holding(const std::string& path, std::string& name);
    // A folder by its own path (program form).
    static Result<Folder> Open(const std::string& path);

    // A path that reaches `name` in this folder through this process's
    // descriptor table (/proc/<pid>/fd/N/name): valid for programs this
    // process starts, wherever the folder has moved.
    std::string PathTo(const std::string& name) const;
    // Creates a new file named `stem` + a unique suffix; `name` receives it.
    Result<File> CreateUnique(const std::string& stem, std::string& name) const;
    // A symbolic link named `stem` + a unique suffix, leading to `target`.
    Status LinkUnique(const std::string& target, const std::string& stem, std::string& name) const;
    Result<File> OpenForReading(const std::string& name) const;  // never through a link
    Result<PathInfo> Examine(const std::string& name) const;
    Result<FileIdentity> IdentityOf(const std::string& name) const;  // the entry itself, not a link's target
    Status Rename(const std::string& from, const std::string& to) const;
    Status Remove(const std::string& name) const;
    // Whether this process may create and rename entries here.
    bool Writable() const;

    // Descriptor-relative steps for building a tree beneath a folder without
    // ever passing through a link. Names are single components unless said.
    //
    // The directory `name` in this folder (openat with O_DIRECTORY |
    // O_NOFOLLOW): ENOTDIR (or ELOOP) when it is a link or anything else
    // but a directory, ENOENT only when nothing holds the name.
    Result<Folder> OpenFolder(const std::string& name) const;
    // The directory at `relative_path` below this folder, any number of
    // components, none of them a link and none leading out of this folder:
    // openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has
    // it, else one component at a time as OpenFolder does ("." and empty
    // components are passed over; ".." fails with EXDEV).
    Result<Folder> OpenBeneath(const std::string& relative_path) const;
    // Creates the directory `name` here (mkdirat; default permissions,
    // narrowed by the umask).
    Status MakeFolder(const std::string& name) const;
    // Creates the file `name` here for writing (openat with O_CREAT | O_EXCL
    // | O_NOFOLLOW): EEXIST when anything holds the name, a link included,
    // which is never followed.
    Result<File> CreateNewFile(const std::string& name) const;
    // Makes this folder the process's current directory (fchdir).
    Status MakeCurrent() const;
    // Sets this folder's own permission bits and times (through its
    // descriptor's entry in /proc/self/fd, never by its name).
    Status SetMode(std::uint32_t mode) const;
    Status SetTimes(FileTime mtime) const;
    // Creates the symbolic link `name` here, leading to `target` (symlinkat);
    // EEXIST when anything holds the name.
    Status MakeLink(const std::string& target, const std::string& name) const;
    // Sets the times of `name` here without following it when it is a link
    // (utimensat with AT_SYMLINK_NOFOLLOW).
    Status SetTimesOf(const std::string& name, FileTime mtime) const;
    // The same folder on a descriptor of its own.
    Result<Folder> Duplicate() const;
    // The folder for private temporary files: $TMPDIR, else /tmp.
    static Result<Folder> ForTemporaryFiles();

private:
    explicit Folder(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Opens files for reading one after the other, as File::OpenForReading does
// but by host path (a backslash stays part of a name), keeping the directory
// of the files open: the next file of the same
// directory is found from there instead of by walking its whole path. When
// the files come back to directories they left (a list sorted by size), it
// keeps the directories of the files open (a few hundred at most). One opener
// serves one run over a list (the current directory must not change while it
// is in use). Files handed back with Retire are closed in batches, dozens
// with one system call, and all of them when the opener goes away. One
// FilesAhead may open files through it while its owner retires them.
class FileOpener {
public:
    FileOpener() = default;
    FileOpener(FileOpener&& other) noexcept;
    FileOpener& operator=(FileOpener&& other) noexcept;
    FileOpener(const FileOpener&) = delete;
    FileOpener& operator=(const FileOpener&) = delete;
    ~FileOpener();

    Result<File> OpenForReading(const std::string& host_path);
    // Takes a file that is no longer needed, to be closed with others.
    void Retire(File file);

private:
    // Hashes std::string and std::string_view alike, so that a directory
    // can be looked up without making a string of it.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };
    using Directories = std::unordered_map<std::string, int, NameHash, std::equal_to<>>;

    Result<File> Open(const std::string& host_path);
    // The directory held open (-1: it cannot be opened), opened when new.
    int DirectoryFd(std::string_view directory);
    static int MoveAboveFiles(int fd);
    void CloseDirectories();
    void CloseRetired();
    void CloseRetiredHeld();  // with retired_lock_ held
    Directories directories_;  // host form ending in '/', to its descriptor
    Directories::value_type* last_directory_ = nullptr;  // the last one used
    Directories seen_;            // every directory so far, until they are kept
    std::size_t returns_ = 0;     // files whose directory was seen, but not just before
    bool keep_directories_ = false;
    std::mutex lock_;           // held by OpenForReading
    std::vector<int> retired_;  // descriptors waiting to be closed
    std::mutex retired_lock_;   // held while retired_ is used
};

// Opens the files of a list ahead of the caller, in order, on a thread of its
// own, through a FileOpener: opening a file and its one look (File::Info)
// are two system calls, whose cost is mostly entering and leaving the
// kernel, and they are made there while the caller reads and writes the
// files before. The caller takes every file of the list in order, whether it
// uses it or not. At most a few dozen files wait open. When the process runs
// out of descriptors the thread stops, and each file from there on is opened
// when it is taken, as the opener alone would; with fewer than 1024
// descriptors allowed, no file is opened ahead.
class FilesAhead {
public:
    // Puts the host path of file `index` of the list into `host_path`.
    using PathOf = std::function<void(std::size_t index, std::string& host_path)>;
    FilesAhead(FileOpener& opener, std::size_t count, PathOf path_of);
    FilesAhead(const FilesAhead&) = delete;
    FilesAhead& operator=(const FilesAhead&) = delete;
    ~FilesAhead();  // files opened but not taken are closed

    // The next file of the list, whose host path is `host_path`, as
    // FileOpener::OpenForReading opens it.
    Result<File> Take(const std::string& host_path);

private:
    void OpenAll(std::size_t count, const PathOf& path_of);

    FileOpener& opener_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Result<File>> ready_;  // opened, in list order, not yet taken
    bool taker_waits_ = false;
    bool opener_waits_ = false;
    bool done_ = false;       // the thread opens no more: the rest is opened when taken
    bool stopping_ = false;   // the caller goes away
    std::thread thread_;
};

// ---- The process -----------------------------------------------------------

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later can take the place of a standard stream.
void EnsureStandardDescriptors();
// A write to a closed pipe fails with EPIPE instead of ending the process.
// Programs started from here get the default disposition back.
void IgnoreBrokenPipe();
// On SIGINT, SIGTERM or SIGHUP: ends the program started by RunAndWait, if
// one is running, removes every registered temporary file, and ends the
// process by the same signal. Async-signal-safe.
void InstallInterruptCleanup();

// A file removed when the run is interrupted (see InstallInterruptCleanup),
// until Release or the object's end. Move-only.
class TemporaryFileGuard {
public:
    TemporaryFileGuard() = default;
    explicit TemporaryFileGuard(const std::string& path);
    // A file in a folder held open: found through the folder's descriptor.
    TemporaryFileGuard(const Folder& folder, const std::string& name);
    TemporaryFileGuard(TemporaryFileGuard&& other) noexcept;
    TemporaryFileGuard& operator=(TemporaryFileGuard&& other) noexcept;
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;
    ~TemporaryFileGuard();
    // The file is no longer this run's to remove (renamed, or removed).
    void Release();

private:
    void Register(const std::string& host_path);
    int slot_ = -1;
};

// ---- Console ---------------------------------------------------------------

// A time in local time as "2026-12-11 10:33"; nothing when the system cannot
// express it.
std::optional<std::string> LocalMinuteText(std::int64_t seconds);

// Writes to the program's standard output (buffered).
void Print(std::string_view text);
// Writes to standard error at once: usage and advice meant for a person.
void PrintError(std::string_view text);
bool OutputIsTerminal();
// Whether a write to standard output has failed so far, without flushing:
// cheap enough to ask after every line.
bool OutputBroken();
// Whether the last byte Print wrote was a line feed (true before any).
bool OutputEndsLine();
void FlushOutput();
// Whether a write to standard output has failed so far this run (a full
// disk, a closed pipe); flushes first, so the answer covers every Print.
bool OutputFailed();
// Flushes progress output when the last such flush is a tenth of a second
// old or more, so a long run of dots shows as it grows without a system
// call per dot. Whatever waits is flushed by the next FlushOutput.
void FlushProgress();
// SILENT sends standard output to /dev/null; VERBOSE brings it back.
Status DetachOutput();
Status AttachOutput();
bool InputIsTerminal();
// Blocks until a line (or the end) arrives on standard input.
void WaitForEnter();

// ---- Processes -------------------------------------------------------------

struct ProcessEnd {
    bool exited = false;  // true: ended normally with exit_code
    int exit_code = 0;
    int signal = 0;       // the signal that killed it, when !exited
    bool succeeded() const { return exited && exit_code == 0; }
};

// Starts argv[0] (searched on PATH when it holds no '/') in the current
// directory with this process's environment and standard streams, and waits
// for it to end, retrying on interruption. Fails when it cannot be started.
// The arguments are passed as given: convert paths with ToHostPath first.
Result<ProcessEnd> RunAndWait(const std::vector<std::string>& argv);
// Starts it and returns at once.
Status RunDetached(const std::vector<std::string>& argv);

}  // namespace host
