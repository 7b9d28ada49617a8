// Once its executable has been replaced by a new file, the helper refuses the
// next connection and ends itself. This ends the sandbox's helper, so it is a
// test program of its own (as is HelperDeletionTest).
#include "support/HelperLifetime.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(HelperReplacement, ANewExecutableEndsTheHelperAfterRefusingTheNextConnection) {
    const std::string helper = "/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper";
    expectHelperEndsAfterChange([&] {
        // A new file under the same name: another inode.
        std::filesystem::copy_file(helper, helper + ".new");
        std::filesystem::rename(helper + ".new", helper);
    });
}

}  // namespace
