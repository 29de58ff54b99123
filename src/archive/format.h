// The archive file format, the one place that knows its layout.
//
// An archive is a 12-byte archive header followed by one record per stored
// file: an 8-byte entry header (data size, then name length), the stored name
// without terminator, then the file's bytes. There is no end marker: the
// archive ends where the last record's data ends. Every integer is 32 bits
// wide, signed and little-endian, whatever the byte order of the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace archive_format {

// ---- Archive header ----------------------------------------------------------

// Bytes 0 to 2. The reader reports byte 2 as the "password protection" value.
inline constexpr std::string_view kSignature = "VK1";
// What the reader demands before it treats a file as an archive: bytes 0 and 1.
inline constexpr std::string_view kMagic = "VK";
inline constexpr std::size_t kProtectionOffset = 2;
inline constexpr std::size_t kPaddingOffset = 3;
inline constexpr char kPaddingByte = 0;
inline constexpr std::size_t kSizeFieldOffset = 4;  // always written as 0
inline constexpr std::size_t kFileCountOffset = 8;  // entries in the whole list
inline constexpr std::size_t kHeaderSize = 12;

// ---- Record ------------------------------------------------------------------

inline constexpr std::size_t kDataSizeOffset = 0;
inline constexpr std::size_t kNameLengthOffset = 4;
inline constexpr std::size_t kRecordHeaderSize = 8;

// ---- Stored names ----------------------------------------------------------
//
// A stored name is the program form of the name: backslash separators. A name
// whose exact Linux form holds a backslash inside a component is extended:
// the program form, one NUL, then the exact relative name with '/' as its
// only separator (a backslash there is part of a component), ending at the
// next NUL or the end of the field. Both forms have the same length and
// differ only where the exact name has a '/'. The record's name length counts
// the whole field.
//
// An entry packed with its attributes (ATTRIBUTES=ON) always has the exact
// form, followed by one more NUL and its attribute text (archive/attributes.h).
// A directory's program form and exact form both end in their separator.
inline constexpr char kNameExtensionSeparator = '\0';
// Longest program form (the part before the NUL) the writer stores.
inline constexpr std::int32_t kMaxNameLength = 4096;
// Longest name field, extension included; a longer one marks a damaged archive.
inline constexpr std::int32_t kMaxNameFieldLength = 16384;
// The data size is a signed 32-bit count: files of 2 GiB or more do not fit.
inline constexpr std::int64_t kMaxDataSize = std::numeric_limits<std::int32_t>::max();

// Streaming copies and zero padding go through buffers of this size.
inline constexpr std::size_t kCopyBufferSize = 65536;

using HeaderBytes = std::array<char, kHeaderSize>;
using RecordHeaderBytes = std::array<char, kRecordHeaderSize>;

// A stored name extended by its exact form. The caller extends only names
// whose exact form holds a backslash.
inline std::string WithExactName(std::string_view program_name, std::string_view exact_name) {
    std::string field(program_name);
    field += kNameExtensionSeparator;
    field += exact_name;
    return field;
}

// The stored name for a file named `program_name` in the program's form and
// `exact_name` exactly: the program form alone unless the exact name holds a
// backslash, the extended form otherwise.
inline std::string StoredNameFor(std::string program_name, std::string_view exact_name) {
    if (exact_name.find('\\') == std::string_view::npos) return program_name;
    return WithExactName(program_name, exact_name);
}

// A name field split into its parts; `exact` is empty when the name has no
// exact form (no NUL, or nothing after it). `has_attributes` tells whether a
// NUL follows the exact form; `attributes` is the text after it.
struct StoredNameParts {
    std::string_view program;
    std::string_view exact;
    std::string_view attributes = {};
    bool has_attributes = false;
};

inline StoredNameParts SplitStoredName(std::string_view field) {
    const std::size_t separator = field.find(kNameExtensionSeparator);
    if (separator == std::string_view::npos) return {field, {}};
    std::string_view exact = field.substr(separator + 1);
    const std::size_t exact_end = exact.find(kNameExtensionSeparator);  // ends at the next NUL
    if (exact_end == std::string_view::npos) return {field.substr(0, separator), exact};
    std::string_view attributes = exact.substr(exact_end + 1);
    attributes = attributes.substr(0, attributes.find(kNameExtensionSeparator));
    return {field.substr(0, separator), exact.substr(0, exact_end), attributes, true};
}

// A name field that carries attribute text after its exact form.
inline std::string WithAttributes(std::string_view program_name, std::string_view exact_name,
                                  std::string_view attribute_text) {
    std::string field = WithExactName(program_name, exact_name);
    field += kNameExtensionSeparator;
    field += attribute_text;
    return field;
}

// Whether an exact name is the program form with each of its '/' made '\':
// otherwise the record would show one name and create another.
inline bool ExactNameMatches(std::string_view program_name, std::string_view exact_name) {
    if (program_name.size() != exact_name.size()) return false;
    for (std::size_t i = 0; i < exact_name.size(); ++i) {
        const char expected = exact_name[i] == '/' ? '\\' : exact_name[i];
        if (program_name[i] != expected) return false;
    }
    return true;
}

// ---- Little-endian fields ------------------------------------------------------

inline void PutInt32(char* at, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) at[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
}

inline std::int32_t GetInt32(const char* at) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
    }
    return static_cast<std::int32_t>(bits);
}

// ---- Whole headers -------------------------------------------------------------

inline HeaderBytes EncodeHeader(std::int32_t file_count) {
    HeaderBytes bytes{};
    kSignature.copy(bytes.data(), kSignature.size());
    bytes[kPaddingOffset] = kPaddingByte;
    PutInt32(bytes.data() + kSizeFieldOffset, 0);
    PutInt32(bytes.data() + kFileCountOffset, file_count);
    return bytes;
}

struct RecordHeader {
    std::int32_t data_size = 0;
    std::int32_t name_length = 0;
};

inline RecordHeaderBytes EncodeRecordHeader(const RecordHeader& header) {
    RecordHeaderBytes bytes{};
    PutInt32(bytes.data() + kDataSizeOffset, header.data_size);
    PutInt32(bytes.data() + kNameLengthOffset, header.name_length);
    return bytes;
}

inline RecordHeader DecodeRecordHeader(const RecordHeaderBytes& bytes) {
    return RecordHeader{GetInt32(bytes.data() + kDataSizeOffset),
                        GetInt32(bytes.data() + kNameLengthOffset)};
}

}  // namespace archive_format
