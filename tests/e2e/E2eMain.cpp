// The end-to-end driver; started again with --hold-mutex or --hold-file it
// is the helper that holds a named mutex or an open file for a test.
#include "tests/e2e/E2eSupport.h"
#include <gtest/gtest.h>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strncmp(argv[1], "--hold-", 7) == 0)
        return HolderMain(argc - 1, argv + 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
