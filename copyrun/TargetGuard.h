#pragma once
// What keeps one copy run from harming the user's files: the target folder, worked out once
// when the run starts, and the files the run reads from, known by their identity (which file
// they are, whatever the spelling or the links that lead to them). Nothing the run writes,
// renames or removes may be one of those files, and nothing but the chosen archive may lie
// outside the target folder.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/FileSystem.h"

namespace copyrun {

class TargetGuard {
public:
    // `target`: the full host path of the target folder, without a trailing '/'.
    explicit TargetGuard(std::string target) : m_target(std::move(target)) {}

    const std::string& Target() const { return m_target; }

    // Notes `path` as a file the run reads from; a path that names nothing is passed over.
    void AddSource(const std::string& path);
    // The same for a file whose status has been read already (nullopt: it names nothing).
    void AddSource(const std::optional<platform::PathStatus>& status);
    // The source, as it was noted, that `path` names; nullopt when `path` names nothing or
    // a file the run does not read from.
    std::optional<std::string> SourceAt(const std::string& path) const;
    // The same for a path whose status the caller has already read.
    std::optional<std::string> SourceAt(const platform::PathStatus& status) const;
    // True when `path` lies below the target folder (judged on the text, "." and ".." folded).
    bool Inside(const std::string& path) const;

private:
    struct Identity {
        std::uint64_t device, inode;
        bool operator==(const Identity&) const = default;
    };
    struct IdentityHash {
        std::size_t operator()(const Identity& id) const {
            return std::hash<std::uint64_t>()(id.inode * 31 + id.device);
        }
    };

    std::string m_target;
    std::unordered_map<Identity, std::string, IdentityHash> m_sources;
};

}  // namespace copyrun
