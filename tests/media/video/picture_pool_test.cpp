// The two reused pictures of the preview and of each peer's decoder.
#include "media/video/picture_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

TEST(picture_pool, APictureIsRefilledOnlyWhenNobodyHoldsItAndOutlivesItsPool) {
    auto pool = picture_pool::make();
    auto a = pool->take();
    a->rgb.assign(300, 7);
    a->width = 10;
    const uint8_t* storage = a->rgb.data();
    auto b = pool->take();
    auto extra = pool->take();  // both held: a picture of its own
    EXPECT_NE(extra.get(), a.get());
    EXPECT_NE(extra.get(), b.get());

    std::shared_ptr<const peer_picture> reader = a;
    a.reset();
    auto c = pool->take();
    EXPECT_NE(c.get(), reader.get()) << "a picture a reader holds is never refilled";
    EXPECT_EQ(reader->rgb[299], 7);
    EXPECT_EQ(reader->width, 10);

    const peer_picture* first = reader.get();
    reader.reset();
    auto again = pool->take();
    ASSERT_EQ(again.get(), first) << "a released picture goes back to the pool";
    EXPECT_EQ(again->width, 0);
    EXPECT_TRUE(again->rgb.empty());
    again->rgb.assign(300, 9);
    EXPECT_EQ(again->rgb.data(), storage) << "its pixel storage is kept";

    pool.reset();  // the owner goes first: the pictures out keep the pool
    again->rgb[0] = 1;
    b->height = 3;
    again.reset();
    b.reset();
}

TEST(picture_pool, PicturesReleasedOnAnotherThreadAreReusedSafely) {
    auto pool = picture_pool::make();
    std::mutex m;
    std::shared_ptr<const peer_picture> published;
    std::atomic<bool> done{false};
    std::atomic<long> checked{0};
    std::thread reader([&] {
        while (!done.load()) {
            std::shared_ptr<const peer_picture> p;
            {
                std::lock_guard<std::mutex> lk(m);
                p = published;
            }
            if (!p) continue;
            for (uint8_t v : p->rgb) ASSERT_EQ(v, static_cast<uint8_t>(p->serial)) << "torn";
            checked++;
        }
    });
    // Until the reader has seen a good many of them, at least 300 pictures.
    for (uint32_t i = 1; i <= 300 || (checked.load() < 100 && i < 1000000); i++) {
        auto pic = pool->take();
        pic->serial = i;
        pic->rgb.assign(4096, static_cast<uint8_t>(i));
        std::lock_guard<std::mutex> lk(m);
        published = std::move(pic);
    }
    done = true;
    reader.join();
    EXPECT_GT(checked.load(), 0);
}

}  // namespace
