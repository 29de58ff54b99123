// The archive writer: packs the action list into one archive file.
#pragma once

#include <functional>
#include <string>

// Writes the entries from actions_point to the end of the action list into
// the archive DIR_OUT + archive_name, advancing actions_point past each one.
void pack2files(std::string archive_name);

// A seam for tests: called with each source path after its size has been
// measured and before its bytes are copied. Empty by default.
void SetPackSourceHook(std::function<void(const std::string& source)> hook);
