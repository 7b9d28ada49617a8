#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

// The two system-wide job folders whose jobs requests may touch.
struct PrivilegedLaunchFolder {
    enum Case : uint8_t { agents, daemons };

    static constexpr std::string_view agentsPath = "/Library/LaunchAgents";
    static constexpr std::string_view daemonsPath = "/Library/LaunchDaemons";

    constexpr PrivilegedLaunchFolder(Case c) noexcept : value(c) {}

    // The launchctl domain of the folder's jobs for a client user: "system" for
    // daemons, "gui/" and the user identifier in decimal for agents.
    static std::string domain(PrivilegedLaunchFolder folder, uint32_t clientUID);

    // Who may own a job's program and the folder that holds it: root for
    // daemons; root and the client user for agents.
    static std::set<uint32_t> allowedOwners(PrivilegedLaunchFolder folder, uint32_t clientUID);

    friend constexpr bool operator==(PrivilegedLaunchFolder, PrivilegedLaunchFolder) = default;
    friend constexpr auto operator<=>(PrivilegedLaunchFolder, PrivilegedLaunchFolder) = default;

    Case value;
};

template <>
struct std::hash<PrivilegedLaunchFolder> {
    size_t operator()(PrivilegedLaunchFolder folder) const noexcept { return folder.value; }
};
