#include "archive/packed_archive.h"

#include <utility>

#include "archive/outcome.h"

PackedArchive::PackedArchive(std::string path, host::Folder folder, std::string destination,
                             std::string temporary)
    : path_(std::move(path)),
      folder_(std::move(folder)),
      destination_(std::move(destination)),
      temporary_(std::move(temporary)),
      guard_(folder_, temporary_) {}

PackedArchive::PackedArchive(PackedArchive&& other) noexcept
    : path_(std::move(other.path_)),
      folder_(std::move(other.folder_)),
      destination_(std::move(other.destination_)),
      temporary_(std::exchange(other.temporary_, std::string())),
      guard_(std::move(other.guard_)) {}

PackedArchive::~PackedArchive() { RemoveTemporary(); }

std::string PackedArchive::PathForTool() const { return ResultPathForTool(""); }

std::string PackedArchive::ResultPathForTool(const std::string& suffix) const {
    return host::FromHostPath(folder_.PathTo(temporary_ + suffix));
}

bool PackedArchive::AdoptResult(const std::string& suffix) {
    const std::string result = temporary_ + suffix;
    host::TemporaryFileGuard result_guard(folder_, result);
    auto info = folder_.Examine(result);
    if (!info || !info.value().exists || info.value().is_link ||
        info.value().kind != host::EntryKind::RegularFile) {
        (void)folder_.Remove(result);
        return false;
    }
    RemoveTemporary();
    temporary_ = result;
    guard_ = std::move(result_guard);
    return true;
}

host::TemporaryFileGuard PackedArchive::GuardResult(const std::string& suffix) const {
    return host::TemporaryFileGuard(folder_, temporary_ + suffix);
}

void PackedArchive::DiscardResult(const std::string& suffix) {
    (void)folder_.Remove(temporary_ + suffix);
}

bool PackedArchive::Commit() {
    // Until this rename the old archive, if any, stays whole under its name.
    host::Status renamed = folder_.Rename(temporary_, destination_);
    if (!renamed) {
        host::Print("\n Error : Cannot Write Archive " + path_ + "! \n");
        host::Print(renamed.error().Text() + "\n");
        ReportOutcome(Outcome::Failed);
        RemoveTemporary();
        return false;
    }
    temporary_.clear();
    guard_.Release();
    return true;
}

void PackedArchive::RemoveTemporary() {
    if (temporary_.empty()) return;
    (void)folder_.Remove(temporary_);
    temporary_.clear();
    guard_.Release();
}
