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
  Archive" with the system's reason, "Could not write", "Compression Tool
  Failed"), no partial archive under the name, no temporary file left, the
  uncompressed archive kept when only its compression failed, nothing
  touched outside. Figures: $(figure "full disk").
- **Killed mid-pack** (\`KilledMidPack\`): SIGKILL while a 1 GiB file is
  packed, at several points of the archive in the making. Proves: once the
  overwrite step has removed the old archive, the name holds nothing until
  the new one is complete (it is written beside the name and renamed onto
  it). Figures: $(figure "killed mid-pack").
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
  partial result and exits 1, one that kills itself. Proves: "Compression
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

## Special files, load and real trees

- **Special files** (\`UnusualEntries\`): a FIFO, a socket, link loops, a link
  to a directory, a broken link, sparse files of 2^31 - 1 and 2^31 bytes.
  Proves: the pack finishes, says "Skipping …" for each entry it cannot
  pack, refuses the 2 GiB file with "File Too Large For Archive" (exit 2)
  and packs the largest storable file whole. Figures: $(figure "special files").
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

## Running it

- Everything as CI does: \`bash scripts/test.sh\` (the suite is part of the
  tests) and \`bash scripts/fuzz.sh 20\`.
- The suite alone: \`ctest --test-dir build -L reliability\`.
- This page: \`bash scripts/reliability-report.sh [FUZZ_SECONDS]\`.
DOC

echo "Wrote ${report#"$root"/}: suite ${passed} passed, ${failed} failed; ${fuzz_result}"
[ "$suite_status" -eq 0 ] && [ "$fuzz_status" -eq 0 ]
