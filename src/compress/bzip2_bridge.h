// The compression bridge: compresses and decompresses whole archive files by
// running the bzip2 tool that lies in the start directory INIT_DIR.
//
// The tool works on private files only: the writer's temporary archive when
// packing, a private link to the open archive when unpacking. The archive's
// name is touched by one checked rename at the end, or not at all.
#pragma once

#include <optional>
#include <string>

#include "archive/packed_archive.h"
#include "host/host.h"

inline constexpr const char* kCompressionToolName = "bzip2-102-x86-win32.exe";

// Leaves path + ".bz2" beside path, which stays; true when the tool succeeded
// and left it.
bool Compress_File(std::string path);
// Leaves path + ".out" beside path, which stays; true when the tool succeeded
// and left it.
bool UnCompress_File(std::string path);
// True when the file begins with the bytes 'B' 'Z'.
bool is_BZ2(std::string path);

// Compresses a packed archive in its temporary file ("Compressing ..."); the
// compressed form then stands in its place. On failure ("Compression Tool
// Failed On") the tool's result is removed and false returned.
bool CompressPackedArchive(PackedArchive& packed);
// Prints the lines that tell where the tool's result went.
void AnnounceRename(const std::string& result, const std::string& archive);

// Decompresses the archive at `path` into a private file ("UnCompressing
// ...") and returns it open for reading. The decompressed archive then takes
// the archive's place ("Renaming path.out", "to path") when the name still
// holds the regular file that was read and its folder can be written;
// otherwise the name is left as it is, with a line that says why. Nothing
// after a failure ("Compression Tool Failed On"), which leaves no file.
// `shown` is how the lines call the archive, `path` how to reach it.
std::optional<host::File> DecompressForReading(const std::string& shown, const std::string& path);

// Unpacks the bzip2-compressed archive at `path` from its private
// decompressed copy. When decompression fails, the archive is handed to the
// reader as it is (which reports it).
void UnpackCompressed(const std::string& shown, const std::string& path);
