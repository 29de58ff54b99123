#include "archive/job_state.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "archive/format.h"
#include "host/host.h"
#include "paths/path_helpers.h"

ActionList Action_Mem;
std::vector<std::int32_t> Action_Size;
std::int32_t actions_size = 0;
std::int32_t actions_point = 0;

std::string DIR_IN;
std::string DIR_OUT;
std::string INIT_DIR;
bool compression = false;
bool preserve_directory_tree = true;
bool store_attributes = false;
std::int32_t refresh_draw = 10;
std::int32_t dot_draw = 0;

namespace {

namespace fmt = archive_format;

// Lengths in the arena: seven bits a byte, low bits first, the top bit set
// on every byte but the last. A bare name takes one byte of length.
std::size_t LengthBytes(std::size_t length) {
    std::size_t bytes = 1;
    while (length >>= 7) ++bytes;
    return bytes;
}

char* PutLength(char* at, std::size_t length) {
    while (length >= 0x80) {
        *at++ = static_cast<char>((length & 0x7F) | 0x80);
        length >>= 7;
    }
    *at++ = static_cast<char>(length);
    return at;
}

const char* GetLength(const char* at, std::size_t& length) {
    length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if (byte < 0x80) return at;
    }
}

// The stored name made from a source path from byte `stored_from` on.
void DerivedStoredName(std::string_view source, std::size_t stored_from, std::string& stored_name) {
    const std::string_view exact = source.substr(stored_from);
    stored_name = fmt::StoredNameFor(host::FromHostPath(exact), exact);
}

}  // namespace

// ---- The action list's store ---------------------------------------------------

std::string ActionList::Row::operator[](std::size_t index) const {
    std::string text;
    if (row_ == 0) {
        list_.SourceInto(index, text);
    } else {
        list_.StoredNameInto(index, text);
    }
    return text;
}

void ActionList::Put(std::size_t index, std::string_view host_directory, std::string_view name,
                     std::size_t stored_from) {
    PutEntry(index, {Keep({name}), DirectoryIndex(host_directory),
                     static_cast<std::uint32_t>(stored_from)});
}

void ActionList::Put(std::size_t index, std::string_view source, std::string_view stored_name) {
    const std::size_t name_start = source.rfind('/') + 1;  // 0 when there is no '/'
    const std::string_view directory = source.substr(0, name_start);
    const std::string_view name = source.substr(name_start);
    // A stored name that follows from the source path is made again when it
    // is read; its program form is as long as the end of the path it is made from.
    const std::size_t program_length = fmt::SplitStoredName(stored_name).program.size();
    if (program_length <= source.size()) {
        const std::size_t stored_from = source.size() - program_length;
        std::string derived;
        DerivedStoredName(source, stored_from, derived);
        if (derived == stored_name && stored_from < kStoredAsGiven) {
            Put(index, directory, name, stored_from);
            return;
        }
    }
    PutEntry(index, {Keep({name, stored_name}), DirectoryIndex(directory), kStoredAsGiven});
}

void ActionList::PutEntry(std::size_t index, const Entry& entry) {
    if (index < entries_.size()) {
        entries_[index] = entry;
    } else {
        entries_.push_back(entry);
    }
}

void ActionList::SourceInto(std::size_t index, std::string& source) const {
    const Entry& entry = entries_[index];
    std::uint64_t at = entry.text;
    source = directories_[entry.directory];
    source += TextAt(at);
}

void ActionList::StoredNameInto(std::size_t index, std::string& stored_name) const {
    const Entry& entry = entries_[index];
    std::uint64_t at = entry.text;
    const std::string_view name = TextAt(at);
    if (entry.stored_from == kStoredAsGiven) {
        stored_name = TextAt(at);
        return;
    }
    std::string source = directories_[entry.directory];
    source += name;
    DerivedStoredName(source, entry.stored_from, stored_name);
}

void ActionList::Reorder(std::vector<std::uint32_t>& order, std::vector<std::int32_t>& sizes) {
    // Follows each cycle of the permutation, moving every entry once; a
    // position that has its entry is marked by order[i] == i.
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start] == start) continue;
        const Entry first = entries_[start];
        const std::int32_t first_size = sizes[start];
        std::size_t to = start;
        while (order[to] != start) {
            const std::size_t from = order[to];
            entries_[to] = entries_[from];
            sizes[to] = sizes[from];
            order[to] = static_cast<std::uint32_t>(to);
            to = from;
        }
        entries_[to] = first;
        sizes[to] = first_size;
        order[to] = static_cast<std::uint32_t>(to);
    }
}

void ActionList::Clear() {
    std::vector<Entry>().swap(entries_);
    blocks_.clear();
    block_size_ = 0;
    block_used_ = 0;
    directory_index_.clear();
    directories_.clear();
    last_directory_ = 0;
}

std::uint32_t ActionList::DirectoryIndex(std::string_view host_directory) {
    if (last_directory_ < directories_.size() && directories_[last_directory_] == host_directory) {
        return last_directory_;
    }
    auto found = directory_index_.find(host_directory);
    if (found == directory_index_.end()) {
        const auto index = static_cast<std::uint32_t>(directories_.size());
        directories_.emplace_back(host_directory);
        found = directory_index_.emplace(directories_.back(), index).first;
    }
    last_directory_ = found->second;
    return last_directory_;
}

std::uint64_t ActionList::Keep(std::initializer_list<std::string_view> texts) {
    std::size_t needed = 0;
    for (std::string_view text : texts) needed += LengthBytes(text.size()) + text.size();
    if (needed > block_size_ - block_used_) {
        block_size_ = std::max(kBlockSize, needed);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
        block_used_ = 0;
    }
    const std::uint64_t start = (static_cast<std::uint64_t>(blocks_.size() - 1) << 32) | block_used_;
    char* at = blocks_.back().get() + block_used_;
    for (std::string_view text : texts) {
        at = PutLength(at, text.size());
        std::memcpy(at, text.data(), text.size());
        at += text.size();
    }
    block_used_ += needed;
    return start;
}

std::string_view ActionList::TextAt(std::uint64_t& at) const {
    const char* block = blocks_[at >> 32].get();
    const char* text = block + (at & 0xFFFFFFFF);
    std::size_t length = 0;
    text = GetLength(text, length);
    at = (at & ~std::uint64_t{0xFFFFFFFF}) | static_cast<std::uint64_t>(text + length - block);
    return {text, length};
}

// ---- Adding and ordering ---------------------------------------------------------

namespace {

// The entry the next file goes into, with its size in place; nothing for a
// negative size. A list emptied by its counters starts afresh, its memory freed.
bool NewEntry(std::int32_t size, std::size_t& index) {
    if (size < 0) return false;
    index = static_cast<std::size_t>(actions_size);
    if (index == 0) {
        Action_Mem.Clear();
        std::vector<std::int32_t>().swap(Action_Size);
    }
    if (index < Action_Size.size()) {
        Action_Size[index] = size;
    } else {
        Action_Size.push_back(size);
    }
    return true;
}

}  // namespace

void system_add_file(std::string source, std::string stored_name, std::int32_t size) {
    std::size_t index = 0;
    if (!NewEntry(size, index)) return;
    Action_Mem.Put(index, source, stored_name);
    ++actions_size;
}

void system_add_listed_file(std::string_view host_directory, std::string_view name,
                            std::size_t stored_from, std::int32_t size) {
    std::size_t index = 0;
    if (!NewEntry(size, index)) return;
    Action_Mem.Put(index, host_directory, name, stored_from);
    ++actions_size;
}

void Toggle_Compressed(bool on) { compression = on; }

void SetStartDir(std::string dir) {
    INIT_DIR = std::move(dir);
    FixDir(INIT_DIR);
}

void Sort_Files_Small_First() {
    host::Print("Slow sorting.. TODO -> Upgrade to QuickSort..\n");
    const auto count = static_cast<std::size_t>(actions_size);
    if (count < 2) return;
    // A stable sort of the entry order, then one move of every entry: the
    // same order as pairwise swapping of neighbours, without its cost.
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [](std::uint32_t a, std::uint32_t b) { return Action_Size[a] < Action_Size[b]; });
    Action_Mem.Reorder(order, Action_Size);
}

void ResetJobState() {
    Action_Mem.Clear();
    std::vector<std::int32_t>().swap(Action_Size);
    actions_size = 0;
    actions_point = 0;
    DIR_IN.clear();
    DIR_OUT.clear();
    INIT_DIR.clear();
    compression = false;
    preserve_directory_tree = true;
    store_attributes = false;
    refresh_draw = 10;
    dot_draw = 0;
}
