#pragma once

#include <string_view>

// The fixed texts that the helper and the application share.
namespace HelperConstants {

inline constexpr std::string_view appBundleID = "com.kelto.Sorvane";
inline constexpr std::string_view machServiceName = "com.kelto.Sorvane.Helper";
inline constexpr std::string_view daemonPlistName = "com.kelto.Sorvane.Helper.plist";
inline constexpr std::string_view version = "1.6";
inline constexpr std::string_view teamID = "Q7LM3XZ2RB";
inline constexpr std::string_view clientRequirement =
    R"(identifier "com.kelto.Sorvane" and anchor apple generic and certificate leaf[subject.OU] = "Q7LM3XZ2RB")";
inline constexpr std::string_view helperRequirement =
    R"(identifier "com.kelto.Sorvane.Helper" and anchor apple generic and certificate leaf[subject.OU] = "Q7LM3XZ2RB")";

}  // namespace HelperConstants
