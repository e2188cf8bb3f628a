// The queues between the sound threads and the device callbacks: order, bounds and growth.
#include "media/audio/ring.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(spsc_ring, KeepsOrderAcrossThreadsAndRefusesWhenFull) {
    spsc_ring<int, 8> ring;
    int v = 0;
    EXPECT_FALSE(ring.pop(&v));
    for (int i = 0; i < 8; i++) ASSERT_TRUE(ring.push(i));
    EXPECT_TRUE(ring.full());
    EXPECT_FALSE(ring.push(99)) << "a full ring keeps what it holds";
    for (int i = 0; i < 8; i++) {
        ASSERT_TRUE(ring.pop(&v));
        EXPECT_EQ(v, i);
    }
    EXPECT_TRUE(ring.empty());

    constexpr int kCount = 200000;
    std::thread producer([&] {
        for (int i = 1; i <= kCount; i++)
            while (!ring.push(i)) std::this_thread::yield();
    });
    int expected = 1;
    while (expected <= kCount) {
        if (!ring.pop(&v)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(v, expected) << "lost or reordered";
        expected++;
    }
    producer.join();
    EXPECT_TRUE(ring.empty());
}

TEST(small_fifo, GrowsWithoutLosingOrderAndHandsEverythingOver) {
    small_fifo<int> fifo(2);
    int next_in = 0, next_out = 0;
    // Wrapped around before it grows, so the growth has to unwrap.
    fifo.push_back(next_in++);
    fifo.push_back(next_in++);
    fifo.pop_front();
    next_out++;
    for (int i = 0; i < 50; i++) fifo.push_back(next_in++);
    while (fifo.size() > 10) {
        EXPECT_EQ(fifo.front(), next_out++);
        fifo.pop_front();
    }
    small_fifo<int> other;
    other.push_back(-1);
    fifo.move_all_to(&other);
    EXPECT_TRUE(fifo.empty());
    ASSERT_EQ(other.size(), 10u);
    for (; !other.empty(); other.pop_front()) EXPECT_EQ(other.front(), next_out++);
    EXPECT_EQ(next_out, next_in);
}

}  // namespace
