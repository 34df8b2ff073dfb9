#include "core/platform.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <thread>

namespace brindle::platform {
namespace {

// The native recursion check stops at a floor inside the reported stack: the stack
// must hold the caller's own frames, on the main thread and on a thread of its own.
TEST(ThreadStack, HoldsTheCallersFrame) {
    auto check = [] {
        std::uintptr_t low = 0;
        std::size_t size = 0;
        ASSERT_TRUE(thread_stack(low, size));
        int local = 0;
        auto here = reinterpret_cast<std::uintptr_t>(&local);
        EXPECT_GT(here, low);
        EXPECT_LT(here, low + size);
    };
    check();
    std::thread(check).join();
}

TEST(ThreadName, ReadsTheNameAndCutsItToTheBuffer) {
    std::thread([] {
        ASSERT_EQ(pthread_setname_np(pthread_self(), "brindle-worker"), 0);
        char name[64];
        thread_name(name, sizeof name);
        EXPECT_STREQ(name, "brindle-worker");
        char small[6];
        thread_name(small, sizeof small);
        EXPECT_STREQ(small, "brind");
    }).join();
}

}  // namespace
}  // namespace brindle::platform
