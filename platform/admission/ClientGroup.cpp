#include "platform/admission/ClientGroup.h"

#include <grp.h>
#include <unistd.h>

#include <vector>

namespace ClientGroup {

namespace {

std::optional<gid_t> lookUp() {
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    group entry{};
    group* found = nullptr;
    if (::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return std::nullopt;
    return found->gr_gid;
}

}  // namespace

std::optional<gid_t> id() {
    static const std::optional<gid_t> recorded = lookUp();
    return recorded;
}

}  // namespace ClientGroup
