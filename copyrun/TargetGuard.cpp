#include "copyrun/TargetGuard.h"

namespace copyrun {

void TargetGuard::AddSource(const std::string& path) { AddSource(platform::StatPath(path)); }

void TargetGuard::AddSource(const std::optional<platform::PathStatus>& status) {
    if (status && !status->isDirectory) m_sources.emplace(Identity{status->device, status->inode}, status->path);
}

std::optional<std::string> TargetGuard::SourceAt(const std::string& path) const {
    if (m_sources.empty()) return std::nullopt;
    auto status = platform::StatPath(path);
    if (!status) return std::nullopt;
    return SourceAt(*status);
}

std::optional<std::string> TargetGuard::SourceAt(const platform::PathStatus& status) const {
    auto found = m_sources.find(Identity{status.device, status.inode});
    if (found == m_sources.end()) return std::nullopt;
    return found->second;
}

bool TargetGuard::Inside(const std::string& path) const {
    const std::string full = platform::ExpandFileName(path);
    const std::string prefix = m_target == "/" ? m_target : m_target + "/";
    return full.size() > prefix.size() && full.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace copyrun
