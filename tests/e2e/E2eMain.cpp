// The end-to-end driver; started again with --hold-mutex it is the helper
// that holds a named mutex for a test.
#include "tests/e2e/E2eSupport.h"
#include <gtest/gtest.h>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--hold-mutex") == 0)
        return HoldMutexMain(argv[2], argv[3], argv[4]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
