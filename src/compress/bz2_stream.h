// bzip2 data decompressed in the process, as a stream: for listing and
// testing a compressed archive without writing a file anywhere. Unpacking
// keeps the external tool (its lines belong to the job language).
#pragma once

#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

class Bz2Stream {
public:
    // Reads the compressed data from `source`, from its read position on.
    explicit Bz2Stream(host::File& source);
    Bz2Stream(const Bz2Stream&) = delete;
    Bz2Stream& operator=(const Bz2Stream&) = delete;
    ~Bz2Stream();

    // Up to `capacity` decompressed bytes; 0 at the end of the data. The end
    // of the data is only reached after a complete stream (or several, one
    // after the other): compressed data that stops early or fails a check
    // (a block's or the stream's CRC) is an error, and so is anything after
    // the last stream that is not another one.
    host::Result<std::size_t> Read(char* buffer, std::size_t capacity);

    // The decompressed bytes delivered so far.
    std::int64_t delivered() const { return delivered_; }

private:
    host::Status Start();
    host::Result<bool> Refill();  // false at the end of the source
    host::File& source_;
    bz_stream stream_{};
    bool started_ = false;
    bool finished_ = false;  // the last stream ended and the source is exhausted
    std::vector<char> input_;
    std::int64_t delivered_ = 0;
};

// A failure of Read as text: libbz2's own ("data integrity error (CRC)",
// ...) or the system's ("read: Input/output error").
std::string DescribeBz2Failure(const host::Error& error);
