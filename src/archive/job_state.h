// The job's process-wide state: the action list (the files the next pack
// writes, each with its stored name and size) and the job settings. One list
// and one set of settings per process, alive until it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The action list's paths and names, kept compact: a list of a million files
// has to fit in a few dozen MiB. Every directory's host path is kept once and
// shared by all its files; the bare names lie in one arena of large blocks;
// a stored name that follows from the source path (all that the walker
// lists) is not kept at all but made again when it is read. Each entry costs
// 16 bytes here, 4 in Action_Size and its bare name in the arena.
//
// Row 0: source paths, where the writer reads each file, in host form: '/'
// separators and every other byte exactly as the file system names the file
// (a backslash in a source path is part of a name). The walker builds them
// from the host form of the directory it was given and the names as listed;
// ADDFILE converts the path it was given. Whatever prints a source path shows
// its program form, host::FromHostPath(source).
// Row 1: stored names, what the archive records (archive/format.h).
// Index i of both rows and of Action_Size is one entry; entries at or above
// actions_size are stale and are overwritten by the next entries added.
class ActionList {
public:
    // One row read as strings: Action_Mem[row][i] makes the string of entry i.
    class Row {
    public:
        std::string operator[](std::size_t index) const;

    private:
        friend class ActionList;
        Row(const ActionList& list, int row) : list_(list), row_(row) {}
        const ActionList& list_;
        int row_;
    };
    Row operator[](int row) const { return Row(*this, row); }

    // The entry at `index` (at most the number of entries kept) becomes the
    // file `name` of `host_directory` (which ends in '/', or is empty), whose
    // stored name is made from its source path from byte `stored_from` on:
    // its program form, extended by the exact form when that holds a
    // backslash (archive_format::StoredNameFor).
    void Put(std::size_t index, std::string_view host_directory, std::string_view name,
             std::size_t stored_from);
    // The same with a stored name of any form, kept as it is when it does
    // not follow from the source path.
    void Put(std::size_t index, std::string_view source, std::string_view stored_name);

    // Entry `index` read into strings the caller keeps, so that a run over
    // the list allocates nothing for each entry.
    void SourceInto(std::size_t index, std::string& source) const;
    void StoredNameInto(std::size_t index, std::string& stored_name) const;

    // Puts the first `order.size()` entries, and their sizes in `sizes`,
    // into the order given: entry i becomes the one that was at order[i].
    // `order` is used up.
    void Reorder(std::vector<std::uint32_t>& order, std::vector<std::int32_t>& sizes);
    // Forgets every entry and frees the memory they held.
    void Clear();

private:
    static constexpr std::uint32_t kStoredAsGiven = 0xFFFFFFFF;
    static constexpr std::size_t kBlockSize = 1 << 20;

    struct Entry {
        std::uint64_t text;         // its bare name in the arena, then any stored name
        std::uint32_t directory;    // index into directories_
        std::uint32_t stored_from;  // where its stored name begins in the source path,
                                    // or kStoredAsGiven: it follows the bare name
    };

    std::uint32_t DirectoryIndex(std::string_view host_directory);
    // Puts each text into the arena, its length first, one after the other
    // in one block; where the first begins.
    std::uint64_t Keep(std::initializer_list<std::string_view> texts);
    // The text kept at `at`; `at` moves past it, to the next one.
    std::string_view TextAt(std::uint64_t& at) const;
    void PutEntry(std::size_t index, const Entry& entry);

    std::vector<Entry> entries_;
    // The arena: blocks of kBlockSize bytes (or one text, when longer). A
    // position in it is the block's index times 2^32 plus the offset.
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t block_size_ = 0;  // of the last block
    std::size_t block_used_ = 0;  // bytes used in the last block
    std::deque<std::string> directories_;  // a deque: its strings never move
    std::unordered_map<std::string_view, std::uint32_t> directory_index_;  // keys: directories_
    std::uint32_t last_directory_ = 0;  // the one found last, looked at first
};

extern ActionList Action_Mem;
extern std::vector<std::int32_t> Action_Size;  // the sizes, one flat array
extern std::int32_t actions_size;   // number of valid entries
extern std::int32_t actions_point;  // next entry the writer packs

extern std::string DIR_IN;   // base of stored names; decompression directory
extern std::string DIR_OUT;  // where archives are written and unpacked
extern std::string INIT_DIR; // the program's start directory (the tool's home)
extern bool compression;
extern bool preserve_directory_tree;
// ATTRIBUTES=ON: entries added from now on are packed with their Linux
// attributes (archive/attributes.h); directories and links become entries.
extern bool store_attributes;
extern std::int32_t refresh_draw;  // a progress dot every this many files
extern std::int32_t dot_draw;      // files since the last dot, across packs

// Appends one entry; a negative size (a file that could not be measured)
// is refused silently.
void system_add_file(std::string source, std::string stored_name, std::int32_t size);
// Appends the file `name` of `host_directory` (host form, ending in '/'),
// whose stored name is made from its source path from byte `stored_from` on
// (see ActionList::Put): how the walker lists files without making a string
// for each of them. A negative size is refused as above.
void system_add_listed_file(std::string_view host_directory, std::string_view name,
                            std::size_t stored_from, std::int32_t size);
void Toggle_Compressed(bool on);
void SetStartDir(std::string dir);
// Orders the whole list by size, smallest first; equal sizes keep the order
// in which they were added.
void Sort_Files_Small_First();

// Puts the list and every setting back to the values at program start.
// The program itself never calls it: it is for tests.
void ResetJobState();
