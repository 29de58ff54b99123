// The record decoder: an archive's header and records read from a byte
// source, with where and how an archive is damaged or cut short. It knows
// no file system: the source may be a file, decompressed data or memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archive/format.h"
#include "host/host.h"

// Bytes in order, from wherever they come.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes; 0 at the end.
    virtual host::Result<std::size_t> Read(char* buffer, std::size_t capacity) = 0;
    // What a failure of Read means, as text.
    virtual std::string Describe(const host::Error& error) const { return error.Text(); }
    // Moves up to `count` bytes on; fewer only at the end.
    virtual host::Result<std::int64_t> Skip(std::int64_t count);
    // Copies up to `count` bytes into `out`; fewer only at the end. A failure
    // names its side: the call "write" when `out` failed.
    virtual host::Result<std::int64_t> CopyTo(host::File& out, std::int64_t count);
};

// Reads a file of a known size from its read position: skips move the
// position without reading, and copies go through the kernel where it can.
class FileSource : public ByteSource {
public:
    FileSource(host::File& file, std::int64_t size) : file_(file), size_(size) {}
    host::Result<std::size_t> Read(char* buffer, std::size_t capacity) override;
    host::Result<std::int64_t> Skip(std::int64_t count) override;
    host::Result<std::int64_t> CopyTo(host::File& out, std::int64_t count) override;

private:
    host::File& file_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

// What stopped the decoding, and where (a byte offset in the archive).
struct DecodeProblem {
    enum class Kind { NotAnArchive, Damaged, Truncated, ReadFailed };
    Kind kind = Kind::Damaged;
    std::int64_t offset = 0;
    std::string detail;  // what exactly, for a person
};

struct DecodedRecord {
    std::int64_t offset = 0;  // where its header begins
    std::int32_t data_size = 0;
    std::string name_field;   // the whole stored name field, extension included
    // False when the archive ends inside the name: `name_field` then holds
    // the part that was there, and Next reports the archive truncated.
    bool name_complete = true;
};

class RecordDecoder {
public:
    explicit RecordDecoder(ByteSource& source) : source_(source) {}

    // The archive header; a problem when the bytes are no archive.
    bool ReadHeader(archive_format::HeaderBytes& header);
    // The next record's header and name, its data still to be read or
    // skipped; false at the end of the archive or on a problem.
    bool Next(DecodedRecord& record);
    // Passes over the data of the record Next gave.
    bool SkipData();
    // Copies the data of the record Next gave into `out`; the bytes copied.
    // Fewer than the record holds when the archive ends first (a problem
    // then). A failed copy leaves the position unknown: decoding ends.
    host::Result<std::int64_t> CopyData(host::File& out);

    const std::optional<DecodeProblem>& problem() const { return problem_; }
    std::int64_t offset() const { return offset_; }

private:
    // Reads until `count` bytes or the end; false (with a problem) on a read failure.
    bool ReadUpTo(char* buffer, std::size_t count, std::size_t& got);
    void Fail(DecodeProblem::Kind kind, std::int64_t offset, std::string detail);
    ByteSource& source_;
    std::int64_t offset_ = 0;
    std::int64_t data_left_ = 0;  // of the current record
    std::optional<DecodeProblem> problem_;
};
