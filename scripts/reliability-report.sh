#!/usr/bin/env bash
# Runs the reliability suite and the fuzz targets, then rewrites
# docs/reliability.md with what each test family proves and the figures of
# this run (inputs tried, faults injected, files compared).
#   scripts/reliability-report.sh [FUZZ_SECONDS]
# FUZZ_SECONDS (default 30) is how long each fuzz target runs. The suite is
# built in $VARKEL_BUILD_DIR (default build), the fuzz targets in build-fuzz.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fuzz_seconds="${1:-30}"
build_dir="${VARKEL_BUILD_DIR:-build}"
case "$build_dir" in
    /*) ;;
    *) build_dir="$root/$build_dir" ;;
esac
fuzz_dir="$root/build-fuzz"
report="$root/docs/reliability.md"

bash "$root/scripts/build.sh" "$build_dir" >/dev/null
suite_log="$(mktemp)"
fuzz_log="$(mktemp)"
trap 'rm -f "$suite_log" "$fuzz_log"' EXIT

echo "Running the reliability suite..."
suite_status=0
"$build_dir/tests/varkel_reliability" >"$suite_log" 2>&1 || suite_status=$?
echo "Fuzzing each target for ${fuzz_seconds}s..."
fuzz_status=0
BUILD_DIR="$fuzz_dir" bash "$root/scripts/fuzz.sh" "$fuzz_seconds" >"$fuzz_log" 2>&1 || fuzz_status=$?

# The figure line a test printed for its family ("[figure] FAMILY: TEXT").
figure() {
    local line
    line="$(grep -F "[figure] $1: " "$suite_log" | tail -n 1 || true)"
    if [ -n "$line" ]; then
        printf '%s' "${line#"[figure] $1: "}"
    else
        printf 'not measured in this run'
    fi
}
# Executions and corpus size of one fuzz target.
fuzz_figure() {
    local target="$1" runs seeds
    runs="$(grep -E '^stat::number_of_executed_units' "$fuzz_dir/$target.log" 2>/dev/null | awk '{print $2}' || true)"
    seeds="$(find "$root/tests/fuzz/corpus/${target#fuzz_}" -type f | wc -l)"
    printf '%s inputs executed in %ss, then the %s committed inputs replayed' "${runs:-no}" "$fuzz_seconds" "$seeds"
}
passed="$(grep -Eo '\[  PASSED  \] [0-9]+ tests?' "$suite_log" | grep -Eo '[0-9]+' || echo 0)"
failed="$(grep -Eo '\[  FAILED  \] [0-9]+ tests?,' "$suite_log" | grep -Eo '[0-9]+' || echo 0)"
fuzz_result="$(grep -E '^fuzz: ' "$fuzz_log" | tail -n 1 || echo 'fuzz: not run')"

cat >"$report" <<DOC
# Reliability

How Varkel is shown to keep working, and to lose nothing, under bad input,
faults from outside, load and real data. Every family below runs in CI:
the reliability suite is part of the test run (ctest labels \`reliability\`
and \`reliability-heavy\`, the program in \`tests/reliability/\`), the fuzz
targets run through \`scripts/fuzz.sh\`. This page is written by
\`scripts/reliability-report.sh\`; the figures are those of its last run
(suite: ${passed} passed, ${failed} failed; ${fuzz_result}).

Every test drives the real program (\`varkel\`, with the real compression
tool beside it) in scratch directories, except where it says "in process".

## Fuzzing

libFuzzer targets under AddressSanitizer and UndefinedBehaviorSanitizer
(\`tests/fuzz/\`, a CMake project of its own built with clang). Each has a
committed seed corpus (valid archives, each malformed kind, hostile names,
the word-separator table, path edge cases); an input that ever made a target
fail is kept there as a \`regression-*\` case and replayed on every run.

- **fuzz_reader**: any bytes, unpacked as an archive into a fresh output
  directory. Aborts when anything appears, vanishes or changes beside the
  output directory or one level above it (a sentinel file on each level),
  when the archive being read changes, when a cut or damaged record is not
  reported as a failure, or when a sound archive of plain names does not
  come out byte for byte. Figures: $(fuzz_figure fuzz_reader).
- **fuzz_decoder**: any bytes decoded as an archive in memory by the record
  decoder that --list and --test use, in pieces of varying size. Aborts when
  a record does not begin where the one before it ended, when a problem is
  placed outside the input, or when a clean end is not exactly after a
  record. Figures: $(fuzz_figure fuzz_decoder).
- **fuzz_script**: any bytes as a job script, with either separator set.
  The lines rebuild the script, the cursor walks them all, and every split
  keeps slot 0 whole, stores no quote, leaves the slots after the last word
  empty and never holds more than the line. Figures: $(fuzz_figure fuzz_script).
- **fuzz_paths**: \`Copy\` against a 64-bit model (and never a read outside
  the text), \`AnalyseFilename\`'s parts rebuilding the path, \`FixDir\` and
  \`trim2\` idempotent and exact, \`EqualIgnoreCase\` against ASCII folding,
  the host path conversions each other's inverse. Figures: $(fuzz_figure fuzz_paths).

## Faults from outside

- **Full disk** (\`FullDisk\`): a file-size limit (RLIMIT_FSIZE, SIGXFSZ
  ignored) on packing, packing over an old archive, compressing, unpacking
  and decompressing. Proves: exit status 2, a clear line ("Cannot Write
  Archive" with the system's reason, "Could not write" and "Partial File"
  for the file left cut short, "Compression Tool Failed"), no partial
  archive under the name, no temporary file left, the
  uncompressed archive kept when only its compression failed, nothing
  touched outside. Figures: $(figure "full disk").
- **Killed mid-pack** (\`KilledMidPack\`): SIGKILL while a 1 GiB file is
  packed, at several points of the archive in the making. Proves: the old
  archive stays whole under its name until the new one is complete (it is
  written beside the name and renamed onto it). SIGKILL cannot be caught:
  its temporary file (\`x.dat.tmp…\`) stays for the user to remove.
  Figures: $(figure "killed mid-pack").
- **Interrupted** (\`Interrupted\`): SIGINT, SIGTERM and SIGHUP in the
  middle of a pack, and SIGTERM while the compression tool runs. Proves:
  the run ends by that signal, the old archive is whole, no temporary file
  is left, and the running tool is ended with the run.
- **Output channels** (\`OutputChannels\`): standard output closed, on
  /dev/full, and a pipe whose reader is gone, for a pack of 2,000 files.
  Proves: the job runs to its end and the archive is complete (never the
  program's own banner), and lines that could not be written make the exit
  status 2.
- **Compression step** (\`CompressionStep\`): two compressed packs to one
  name at once and two unpacks of one compressed archive at once, four
  rounds each; an archive named through a link; LBZIP2, BZIP2 and BZIP set
  by the caller; archives named like bzip2's own results (backup.bz2, x.tbz,
  x.tar.bz2, ...) beside the files bzip2 would write; a restore job run
  twice; an archive in a folder the user cannot write; a start folder with a
  double quote; the archive's folder moved in the middle of a pack. Proves:
  every run exits 0 with a whole archive under the name and nothing beside
  it, every file comes back, links and neighbours are never touched.
- **Archive targets** (\`ArchiveTarget\`): the archive's name held by a
  FIFO, a device, a directory, a link that leads nowhere or to a directory;
  by a link to a file; in a read-only or sticky folder, as a normal user.
  Proves: only a regular file is ever replaced ("Cannot Create Archive",
  "not a regular file", nothing touched), a link keeps its place while the
  file it leads to gets the archive, and "Deleted file" or "Could not
  delete file" tells beforehand whether the final rename will be allowed;
  the old archive stays when it is not.
- **Changing sources**, in process through the writer's seam
  (\`ChangingSource\`): a source cut or grown between measuring and copying,
  at sizes around the 64 KiB buffer. Proves: the record keeps the measured
  size (padded with zero bytes or cut), "File Changed While Packing" and
  outcome 1, and the real reader finds every record. Figures:
  $(figure "changing sources (seam)").
  And by the program (\`ChangingSourceProgram\`), without a seam: kernel
  files whose reported size is not what they deliver. Figures:
  $(figure "changing sources (program)").
- **Compression tool faults** (\`CompressionToolFaults\`): a copy of the
  program with no tool, a tool that cannot be executed, one that leaves a
  partial result and exits 1, one that kills itself, one that exits 0 and
  leaves no result. Proves: "Compression
  Tool Failed On …", exit status 2, and no archive lost: the partial result
  never replaces the archive. Figures: $(figure "compression tool faults").

## Hostile and damaged input

- **Truncation** (\`Truncation\`): an archive made by the program, cut at
  every byte offset, and its compressed form cut at a spread of offsets.
  Proves: no crash or hang, exit status 2 with "Not An Archive" or
  "Truncated Archive" whenever a record is cut (0 exactly at a record's
  end), every record before the cut restored whole, sentinels on three
  levels untouched. Figures: $(figure "truncation").
- **Byte flips** (\`ByteFlips\`): random bytes flipped in the same archive,
  with a fixed seed. Proves: the program always exits normally, exits 2
  whenever an independent reading of the bytes finds a cut or damaged
  record, and never writes outside the output directory. Figures:
  $(figure "byte flips").
- **Hostile names** (\`HostileNames\`): stored names with '..' at the start,
  in the middle and at the end, both separators, absolute paths, drive
  letters, UNC prefixes, empty names. Proves: sentinels above the output
  directory stay as they were and the record after each one is restored.
  Figures: $(figure "hostile names").
- **Planted links** (\`PlantedLinks\`): links placed in the output
  directory before unpacking: under a stored name (to a file, to a
  directory, broken, a hard link) and as a directory part of a stored name.
  Proves: a link under the name is replaced by the new file, never written
  through; a name whose directory part is a link is not written ("Could not
  write", exit status 2); nothing outside changes. Figures:
  $(figure "planted links").
- **Link races**, in process through the extractor's seam
  (\`ArchiveReaderTest.DirectorySwappedForALinkBeforeTheFileIsCreated\`, in
  the unit suite): a directory of the output tree swapped for a link to
  the outside after the reader reached it and before the file is created
  in it, for the file being made, for a directory held open from the file
  before, and for a level above a directory not reached yet. Proves: the
  file lands in the directory that was reached (which never left the
  output tree) or is refused ("Could not write"); nothing appears outside.
- **Hostile attributes** (\`HostileAttributes\`): records with attribute
  text: a link leading out followed by a file beneath it, a link named like
  the archive being read, \`mode=7777\`, an \`mtime\` of 10^20, malformed
  words. Proves: the file beneath the link and the link over the archive are
  refused ("Could not write", exit status 2), the mode is applied as 1777,
  the time is left as the unpack made it, malformed words are ignored by the
  unpack and reported by \`--test\`; nothing outside changes.
- **Read-only output** (\`ReadOnlyOutput\`): as a normal user, an output tree
  with a folder the user may not write, unpacked twice. Proves: each file
  that cannot be made there is reported ("Could not write", exit status 2),
  the others come back, and the second run replaces them.

## Special files, load and real trees

- **Special files** (\`UnusualEntries\`): a FIFO, a socket, link loops, a link
  to a directory, a broken link, sparse files of 2^31 - 1 and 2^31 bytes.
  Proves: the pack finishes, says "Skipping …" for each entry it cannot
  pack, refuses the 2 GiB file with "File Too Large For Archive" (exit 2)
  and packs the largest storable file whole. Figures: $(figure "special files").
- **Attribute round trips** (\`AttributeTrips\`): with ATTRIBUTES=ON, a
  tree with an empty directory, a script of mode 755, links to a file and
  to a directory, a dangling link, a name with a backslash, sticky and
  private directories (also sorted by size, so directory records come
  anywhere), and a copy of /usr/share/doc, plain and compressed. Proves:
  \`diff -r --no-dereference\` finds no difference and every entry has the
  same mode and modification time (links included); the same job with
  ATTRIBUTES off gives the archive it always gave, byte for byte.
- **Directory walk** (\`DirectoryWalk\`): names holding a backslash
  beside the directory their program form names, a 40-level tree under a
  limit of 16 open files, a tree deeper than PATH_MAX, and directories a
  normal user may read but not search, or search but not read. Proves:
  each file is packed from its own name with its own data (the exact name
  after a NUL in the stored name), deep trees are packed whole, and what
  cannot be read is named with the system's reason (exit 2). Figures:
  $(figure "deep trees").
- **Many files** (\`Load.HundredThousandSmallFilesRoundTrip\`): Figures:
  $(figure "load: many files").
- **Peak memory** (\`Load.GibibyteFilePacksInFixedMemory\`, skipped in the
  sanitizer build, whose own memory would hide the program's): measured by
  a small probe process with wait4. Figures: $(figure "load: peak memory").
- **Real trees** (\`RealTrees\`): /usr/include and /usr/share/doc packed
  with ADDDIR and unpacked elsewhere, plain and with COMPRESS=ON, compared
  file for file against what the walker packs (links to files as their
  target's content; FIFOs, sockets, links to directories and broken links
  left aside). Figures: $(figure "real trees").

## Faults found and fixed

- The reader followed links already present in the output directory: a
  link named like a stored file had its target overwritten, and a link as a
  directory part led the new file outside. Files are now created afresh in
  place of whatever held the name, and names whose directory part is a link
  are refused (\`PlantedLinks\`).
- The reader let "C:..\\name" climb out of the output directory: the ".."
  check ran before the drive prefix was removed (\`HostileNames\`, and the
  fuzz corpus).
- After the compression tool failed, its partial result was still renamed
  onto the archive's name, replacing the good archive; now nothing is
  renamed after a failure (\`CompressionToolFaults\`).
- With standard output closed, the temporary archive got descriptor 1 and
  the archive held the program's own banner; now descriptors 0 to 2 are
  opened on /dev/null when closed (\`OutputChannels\`).
- Output to a full disk exited 0, and a pipe closed early killed a pack
  half-way (SIGPIPE); now SIGPIPE is ignored, the job runs to its end, and
  the failed output makes the exit status 2 (\`OutputChannels\`).
- The overwrite step deleted the old archive before packing, so a failed or
  killed pack left no archive at all; now the old archive stays until the
  complete new one is renamed onto its name (\`FullDisk\`, \`KilledMidPack\`).
- SIGINT, SIGTERM and SIGHUP left the temporary archive behind and the
  compression tool running; now both are cleaned up (\`Interrupted\`).
- A FIFO, a device or a directory under the archive's name was deleted or
  replaced by a regular file (as root, \`PACK=/dev/null\` would have
  replaced the system's); now anything but a regular file is left alone
  (\`ArchiveTarget\`).
- A compression tool that exited 0 without a result was taken for a success
  ("Renaming" printed, archive left uncompressed, exit 0); now the rename is
  checked (\`CompressionToolFaults\`).
- Packing the folder that holds the archive a second time listed the old
  archive and then deleted it ("Cannot Open File", exit 2); now it is
  recognised as the archive and left out (\`cli/pack/rerun_in_packed_folder\`).
- A file named with a backslash ("a\\b") was read from "a/b": its data
  was lost and the other file's packed twice. Source paths now keep the
  names as listed, and the stored name carries the exact name
  (\`DirectoryWalk\`).
- The walker held one open directory per level: a deep tree ran out of
  descriptors ("INTERNAL ERROR STARTING.. 24"), and directories whose path
  exceeds PATH_MAX were lost. Listings are now read whole and closed before
  descending, and long paths are opened one level at a time
  (\`DirectoryWalk\`).
- In a directory that may be read but not searched, every file was
  "not a regular file or directory" and "." and ".." were listed as
  skipped, with exit status 0. Such entries are now reported as
  "Cannot read …" with the reason, and exit status 2 (\`DirectoryWalk\`).
- A job script linked to /dev/zero filled the memory; a script over 64 MiB
  or with a line over 1 MiB is now refused whole (golden case
  \`job/endless_script_refused\`).
- One source whose reading failed (such as \`/proc/self/mem\`) threw the whole
  archive away as "Cannot Write Archive". Its record is now cut back out of
  the archive and the source reported; a failed kernel copy is retried
  through a buffer to tell a failing source from a failing archive
  (\`SourceThatFailsWhileReadLeavesNothingBehind\`, \`FailedCopyNamesTheSideThatFailed\`,
  cli \`pack/unreadable_source\`).
- ADDDIR of \`..\\docs\` stored names beginning with \`..\\\`, which every unpack
  then skipped. The writer now takes off what would climb out, by the rule
  the reader keeps (\`StoredNamesFollowTheRuleTheReaderKeeps\`, cli
  \`pack/names_climbing_out\`).
- A stored name longer than 4,096 bytes was packed, and unpacking stopped at
  it as damage, losing every file after it. The writer now refuses it (cli
  \`pack/name_too_long\`).
- The self-inclusion test also compared names ignoring letter case, so
  \`Notes.dat\` was left out of an archive \`notes.dat\`; only device and inode
  count now (\`FileNamedLikeTheArchiveInAnotherLetterCaseIsPacked\`, cli
  \`pack/letter_case_not_self\`).
- The compression step worked by name in the archive's folder: the tool
  turned X into X.bz2 (or X.out) and removed X. Two runs at once lost the
  archive, a link named as the archive was replaced by a file, LBZIP2=-c in
  the caller's environment sent the data to standard output, bzip2-style
  names (backup.bz2) made the tool write over a neighbour, a restore job
  failed when run again, a read-only folder could not be unpacked from, a
  start folder with a double quote never compressed. The tool now works on
  private files only and the archive's name changes by one checked rename
  (\`CompressionStep\`, \`CompressionToolFaults\`).
- A stored name with a \`..\` part was skipped with exit status 0, though
  its file was not restored; the outcome is now 2 (\`HostileNames\` in the
  unit suite, cli \`unpack/unsafe_name_fails\`).
- The reader checked a file's directories with lstat and then created the
  file by path, and skipped the check for later files of the same
  directory: a process that could write the output tree could swap a
  checked directory for a link in between. Files are now made beneath the
  output directory's descriptor, one level at a time, never through a link
  (\`DirectorySwappedForALinkBeforeTheFileIsCreated\`).
- A second UNPACK with a relative output directory unpacked into
  \`out/out\`, since the first had entered \`out\`; relative input and
  output directories now keep naming what they named when set (cli
  \`unpack/second_unpack_same_directories\`).
- An absolute archive path in PACK or UNPACK had the output or input
  directory put in front of it and failed; it is now used as it is (cli
  \`unpack/absolute_archive_paths\`).
- A file cut short by a full disk or a truncated archive stayed under its
  name without a word about it; "Partial File" now names it (cli
  \`unpack/partial_file\`, \`FullDiskIsReportedForTheFileBeingWritten\`).
- An archive of zeros printed a "Could not write" line for every 8 bytes
  (20 MB of output for 8 MB of zeros); past 100 such records in a row the
  rest is counted in one line (cli \`unpack/zeros_flood\`).

## Running it

- Everything as CI does: \`bash scripts/test.sh\` (the suite is part of the
  tests) and \`bash scripts/fuzz.sh 20\`.
- The suite alone: \`ctest --test-dir build -L reliability\`.
- This page: \`bash scripts/reliability-report.sh [FUZZ_SECONDS]\`.
DOC

echo "Wrote ${report#"$root"/}: suite ${passed} passed, ${failed} failed; ${fuzz_result}"
[ "$suite_status" -eq 0 ] && [ "$fuzz_status" -eq 0 ]
