#include <gtest/gtest.h>

#include <string>

#include "engine/kt_render/handle.h"

namespace {

TEST(HandlePool, HandlesNameSlotAndGeneration) {
    Handle_Pool<std::string> pool;
    Handle a = pool_add(pool, std::string("a"));
    Handle b = pool_add(pool, std::string("b"));
    EXPECT_EQ(a, 1u);            // slot 0, generation 0
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(pool.count, 2u);

    pool_remove(pool, a);
    Handle c = pool_add(pool, std::string("c"));   // reuses slot 0
    EXPECT_EQ(c & 0xFFFFF, 1u);
    EXPECT_EQ(c >> 20, 1u);
    EXPECT_NE(c, a);

    struct Case {
        const char* what;
        Handle h;
        const char* expect;   // nullptr: refused
    };
    const Case cases[] = {
        {"live new handle", c, "c"},
        {"live untouched handle", b, "b"},
        {"stale handle of the reused slot", a, nullptr},
        {"handle 0", 0, nullptr},
        {"slot past the end", handle_make(7, 0), nullptr},
        {"right slot, future generation", handle_make(0, 2), nullptr},
    };
    for (const Case& k : cases) {
        std::string* got = pool_get(pool, k.h);
        if (k.expect) {
            ASSERT_NE(got, nullptr) << k.what;
            EXPECT_EQ(*got, k.expect) << k.what;
        } else {
            EXPECT_EQ(got, nullptr) << k.what;
            pool_remove(pool, k.h);   // refused: nothing changes
            EXPECT_EQ(pool.count, 2u) << k.what;
        }
    }
    pool_remove(pool, c);
    pool_remove(pool, c);   // a second remove of the same handle is stale
    EXPECT_EQ(pool.count, 1u);
    EXPECT_EQ(pool.free.size(), 1u);
}

TEST(HandlePool, DeadSlotsAreReusedLastInFirstOut) {
    Handle_Pool<int> pool;
    Handle h[3];
    for (int i = 0; i < 3; ++i) h[i] = pool_add(pool, i);
    pool_remove(pool, h[0]);
    pool_remove(pool, h[2]);
    EXPECT_EQ(pool_add(pool, 9) & 0xFFFFF, 3u);
    EXPECT_EQ(pool_add(pool, 9) & 0xFFFFF, 1u);
    EXPECT_EQ(pool_add(pool, 9) & 0xFFFFF, 4u);
}

TEST(HandlePool, GenerationWrapsAtThe4096thReuse) {
    Handle_Pool<int> pool;
    Handle first = pool_add(pool, 1);
    Handle h = first;
    for (int reuse = 1; reuse <= 4096; ++reuse) {
        pool_remove(pool, h);
        h = pool_add(pool, 1);
        ASSERT_EQ(h & 0xFFFFF, 1u);
        ASSERT_EQ(h >> 20, uint32_t(reuse % 4096)) << reuse;
    }
    EXPECT_EQ(h, first);
}

TEST(HandlePool, FullPoolGivesNoHandle) {
    Handle_Pool<uint8_t> pool;
    Handle last = 0;
    for (uint32_t i = 0; i < 0xFFFFF; ++i) last = pool_add(pool, uint8_t(1));
    EXPECT_EQ(last, 0xFFFFFu);
    EXPECT_EQ(pool_add(pool, uint8_t(1)), 0u);
    EXPECT_EQ(pool.count, 0xFFFFFu);
    pool_remove(pool, last);
    EXPECT_EQ(pool_add(pool, uint8_t(1)), handle_make(0xFFFFE, 1));
}

}  // namespace
