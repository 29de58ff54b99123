#include "archive/job_state.h"

#include <algorithm>
#include <numeric>

#include "host/host.h"
#include "paths/path_helpers.h"

std::vector<std::string> Action_Mem[2];
std::vector<std::int32_t> Action_Size;
std::int32_t actions_size = 0;
std::int32_t actions_point = 0;

std::string DIR_IN;
std::string DIR_OUT;
std::string INIT_DIR;
bool compression = false;
bool preserve_directory_tree = true;
std::int32_t refresh_draw = 10;
std::int32_t dot_draw = 0;

void system_add_file(std::string source, std::string stored_name, std::int32_t size) {
    if (size < 0) return;
    const auto index = static_cast<std::size_t>(actions_size);
    if (index >= Action_Size.size()) {
        Action_Mem[0].resize(index + 1);
        Action_Mem[1].resize(index + 1);
        Action_Size.resize(index + 1);
    }
    Action_Mem[0][index] = std::move(source);
    Action_Mem[1][index] = std::move(stored_name);
    Action_Size[index] = size;
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
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [](std::size_t a, std::size_t b) { return Action_Size[a] < Action_Size[b]; });
    std::vector<std::string> sources(count), names(count);
    std::vector<std::int32_t> sizes(count);
    for (std::size_t i = 0; i < count; ++i) {
        sources[i] = std::move(Action_Mem[0][order[i]]);
        names[i] = std::move(Action_Mem[1][order[i]]);
        sizes[i] = Action_Size[order[i]];
    }
    std::move(sources.begin(), sources.end(), Action_Mem[0].begin());
    std::move(names.begin(), names.end(), Action_Mem[1].begin());
    std::copy(sizes.begin(), sizes.end(), Action_Size.begin());
}

void ResetJobState() {
    Action_Mem[0].clear();
    Action_Mem[1].clear();
    Action_Size.clear();
    actions_size = 0;
    actions_point = 0;
    DIR_IN.clear();
    DIR_OUT.clear();
    INIT_DIR.clear();
    compression = false;
    preserve_directory_tree = true;
    refresh_draw = 10;
    dot_draw = 0;
}
