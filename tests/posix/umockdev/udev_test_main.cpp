// Runs the suite only inside umockdev's mock environment (umockdev-wrapper):
// anywhere else the tests would look at the machine's real devices, so the
// program reports itself skipped (77).

#include <umockdev.h>

#include <cstdio>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // A testbed must exist before the library can tell whether it is mocking.
    UMockdevTestbed* probe = umockdev_testbed_new();
    const bool mocked = umockdev_in_mock_environment();
    g_object_unref(probe);
    if (!mocked) {
        std::fprintf(stderr, "not in umockdev's mock environment: run under umockdev-wrapper\n");
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
