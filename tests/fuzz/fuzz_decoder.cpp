// Fuzz target: any bytes decoded as an archive in memory, without a file
// system. Aborts when the decoder reports a record or a problem outside the
// input, when the records it finds do not fit the input, or when a record is
// reported after a problem.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/record_decoder.h"

namespace {

// The input handed out in pieces of varying size, as a pipe would.
class MemorySource : public ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    host::Result<std::size_t> Read(char* buffer, std::size_t capacity) override {
        const std::size_t piece = 1 + (at_ * 7) % 13;
        const std::size_t count = std::min({capacity, size_ - at_, piece});
        std::memcpy(buffer, data_ + at_, count);
        at_ += count;
        return count;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemorySource source(data, size);
    RecordDecoder decoder(source);
    archive_format::HeaderBytes header{};
    if (!decoder.ReadHeader(header)) {
        Check(decoder.problem().has_value());
        return 0;
    }
    const auto input_size = static_cast<std::int64_t>(size);
    std::int64_t end_of_last = static_cast<std::int64_t>(archive_format::kHeaderSize);
    DecodedRecord record;
    while (decoder.Next(record)) {
        Check(record.offset == end_of_last);
        end_of_last = record.offset + static_cast<std::int64_t>(archive_format::kRecordHeaderSize) +
                      static_cast<std::int64_t>(record.name_field.size()) + record.data_size;
        Check(record.offset + static_cast<std::int64_t>(record.name_field.size()) <= input_size);
    }
    if (decoder.problem()) {
        Check(decoder.problem()->offset >= 0 && decoder.problem()->offset <= input_size);
        Check(!decoder.Next(record));
    } else {
        Check(end_of_last == input_size);  // a clean end is exactly after a record
    }
    return 0;
}
