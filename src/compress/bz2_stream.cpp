#include "compress/bz2_stream.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::size_t kInputSize = 1 << 16;

constexpr const char* kLibraryCall = "bzip2";

// libbz2's codes travel in a host::Error: its code, and the library as the call.
host::Error Bz2Error(int code) { return host::Error{code, kLibraryCall}; }

}  // namespace

std::string DescribeBz2Failure(const host::Error& error) {
    if (std::string_view(error.call) != kLibraryCall) return error.Text();
    switch (error.code) {
        case BZ_DATA_ERROR: return "data integrity error (CRC)";
        case BZ_DATA_ERROR_MAGIC: return "not bzip2 data";
        case BZ_UNEXPECTED_EOF: return "compressed data ends early";
        case BZ_MEM_ERROR: return "out of memory";
        default: return "decompression failed (" + std::to_string(error.code) + ")";
    }
}

Bz2Stream::Bz2Stream(host::File& source) : source_(source), input_(kInputSize) {}

Bz2Stream::~Bz2Stream() {
    if (started_) BZ2_bzDecompressEnd(&stream_);
}

host::Status Bz2Stream::Start() {
    // What is left of the input is where the next stream begins, and the
    // output goes on where the last one stopped.
    const bz_stream positions = stream_;
    if (started_) BZ2_bzDecompressEnd(&stream_);
    stream_ = bz_stream{};
    stream_.next_in = positions.next_in;
    stream_.avail_in = positions.avail_in;
    stream_.next_out = positions.next_out;
    stream_.avail_out = positions.avail_out;
    const int code = BZ2_bzDecompressInit(&stream_, 0, 0);
    if (code != BZ_OK) return Bz2Error(code);
    started_ = true;
    return {};
}

host::Result<bool> Bz2Stream::Refill() {
    auto got = source_.Read(input_.data(), input_.size());
    if (!got) return got.error();
    stream_.next_in = input_.data();
    stream_.avail_in = static_cast<unsigned>(got.value());
    return got.value() > 0;
}

host::Result<std::size_t> Bz2Stream::Read(char* buffer, std::size_t capacity) {
    if (finished_ || capacity == 0) return std::size_t{0};
    if (!started_) {
        if (host::Status started = Start(); !started) return started.error();
    }
    const auto room = static_cast<unsigned>(std::min<std::size_t>(capacity, 1u << 30));
    stream_.next_out = buffer;
    stream_.avail_out = room;
    while (stream_.avail_out == room) {
        if (stream_.avail_in == 0) {
            auto more = Refill();
            if (!more) return more.error();
            if (!more.value()) return Bz2Error(BZ_UNEXPECTED_EOF);
        }
        const int code = BZ2_bzDecompress(&stream_);
        if (code == BZ_STREAM_END) {
            // Another stream may follow (data compressed in parallel often is).
            if (stream_.avail_in == 0) {
                auto more = Refill();
                if (!more) return more.error();
                if (!more.value()) {
                    finished_ = true;
                    break;
                }
            }
            if (host::Status started = Start(); !started) return started.error();
            continue;
        }
        if (code != BZ_OK) return Bz2Error(code);
    }
    const std::size_t produced =
        static_cast<std::size_t>(stream_.next_out - buffer);
    delivered_ += static_cast<std::int64_t>(produced);
    return produced;
}
