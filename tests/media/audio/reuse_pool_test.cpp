// The reused payloads of the level notifications.
#include "platform/reuse_pool.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(reuse_pool, AnObjectComesBackOnlyWhenItsLastHolderLetsGoAndOutlivesThePool) {
    auto pool = reuse_pool<std::string, 2>::make();
    auto a = pool->take();
    auto b = pool->take();
    *a = "first";
    auto extra = pool->take();  // both out: one of its own
    EXPECT_NE(extra.get(), a.get());
    EXPECT_NE(extra.get(), b.get());
    std::shared_ptr<const void> note = a;  // a notification still holds it
    const std::string* first = a.get();
    a.reset();
    auto c = pool->take();
    EXPECT_NE(c.get(), first) << "an object a holder keeps is never handed out again";
    EXPECT_EQ(*first, "first");
    // The last holder lets go on another thread.
    std::thread([n = std::move(note)]() mutable { n.reset(); }).join();
    EXPECT_EQ(pool->take().get(), first);
    pool.reset();  // b and c keep the pool
    *b = "still usable";
    b.reset();
    c.reset();
}

}  // namespace
