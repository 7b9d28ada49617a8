// Once its executable has been deleted, the helper refuses the next connection
// and ends itself. This ends the sandbox's helper, so it is a test program of its own.
#include "support/HelperLifetime.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(HelperDeletion, ADeletedExecutableEndsTheHelperAfterRefusingTheNextConnection) {
    expectHelperEndsAfterChange([] {
        ASSERT_EQ(::unlink("/Library/PrivilegedHelperTools/com.kelto.Sorvane.Helper"), 0);
    });
}

}  // namespace
