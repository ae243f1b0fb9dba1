// The lock-free queues between the worker and the callback. What must hold: frames come out in the
// order they went in across the storage's wrap; what the consumer has read stays its own (it can go
// back to it) until it hands it back, and the producer never writes over it; skipping ahead drops
// exactly what lies before the index; and two threads at full speed lose or reorder nothing.
#include <gtest/gtest.h>

#include <thread>

#include "audio/engine/RingBuffer.h"

namespace {

// Fills the ring's free space (in one or two pieces) with frames counted on from next.
std::size_t produce(StereoRing& ring, float& next, std::size_t most) {
    std::size_t done = 0;
    while (done < most) {
        std::size_t room = 0;
        float* space = ring.writeSpace(room);
        room = std::min(room, most - done);
        if (room == 0)
            break;
        for (std::size_t i = 0; i < room; ++i) {
            space[2 * i] = next;
            space[2 * i + 1] = -next;
            next += 1.0f;
        }
        ring.commit(room);
        done += room;
    }
    return done;
}

TEST(StereoRing, FramesComeOutInOrderAcrossTheWrap) {
    StereoRing ring(100); // rounded up to 128
    ASSERT_EQ(ring.capacity(), 128u);
    float written = 0.0f, expected = 0.0f;
    for (int round = 0; round < 20; ++round) { // 20 x 70 frames: many wraps, at shifting places
        ASSERT_EQ(produce(ring, written, 70), 70u);
        std::size_t k = 0;
        while (k < ring.readable()) {
            const std::size_t run = std::min(ring.readable() - k, ring.contiguous(k));
            for (std::size_t i = 0; i < run; ++i) {
                ASSERT_EQ(ring.frame(k + i)[0], expected) << "round " << round;
                ASSERT_EQ(ring.frame(k + i)[1], -expected);
                expected += 1.0f;
            }
            k += run;
        }
        ring.consume(k);
        ring.release(ring.readIndex());
    }
}

TEST(StereoRing, WhatWasReadStaysUntilItIsHandedBack) {
    StereoRing ring(64);
    float next = 0.0f;
    ASSERT_EQ(produce(ring, next, 64), 64u);
    ring.consume(40);
    EXPECT_EQ(ring.writable(), 0u) << "read but not handed back: not the producer's";
    ring.rewindTo(10);
    EXPECT_EQ(ring.readIndex(), 10u);
    EXPECT_EQ(ring.frame(0)[0], 10.0f); // the same frames again
    ring.consume(30);
    ring.release(25);
    EXPECT_EQ(ring.writable(), 25u);
    ring.rewindTo(5); // before what was handed back: no further than that
    EXPECT_EQ(ring.readIndex(), 25u);
    EXPECT_EQ(ring.frame(0)[0], 25.0f);
    ring.release(1000); // never beyond what was read
    EXPECT_EQ(ring.writable(), 25u);
    ASSERT_EQ(produce(ring, next, 100), 25u); // the producer fills only what was handed back
    EXPECT_EQ(ring.frame(0)[0], 25.0f);       // and the frames still to read are untouched
    EXPECT_EQ(ring.frame(38)[0], 63.0f);
    EXPECT_EQ(ring.frame(39)[0], 64.0f);
}

TEST(StereoRing, DiscardUntilSkipsExactlyWhatLiesBefore) {
    StereoRing ring(64);
    float next = 0.0f;
    produce(ring, next, 50);
    ring.discardUntil(30);
    EXPECT_EQ(ring.readIndex(), 30u);
    EXPECT_EQ(ring.readable(), 20u);
    EXPECT_EQ(ring.frame(0)[0], 30.0f);
    ring.discardUntil(12); // an index already passed changes nothing
    EXPECT_EQ(ring.readIndex(), 30u);
    ring.rewindTo(20); // a skip is undone like a read until handed back
    EXPECT_EQ(ring.frame(0)[0], 20.0f);
}

TEST(SpscQueue, ItemsReadAgainAfterGoingBackAndRoomOnlyWhenHandedBack) {
    SpscQueue<int, 4> queue;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(queue.tryPush(i));
    EXPECT_FALSE(queue.tryPush(4));
    queue.pop();
    queue.pop();
    EXPECT_FALSE(queue.tryPush(4)) << "taken but not handed back";
    queue.rewindTo(1);
    ASSERT_NE(queue.front(), nullptr);
    EXPECT_EQ(*queue.front(), 1);
    queue.pop();
    queue.release(2);
    EXPECT_TRUE(queue.tryPush(4));
    EXPECT_TRUE(queue.tryPush(5));
    EXPECT_FALSE(queue.tryPush(6));
    queue.rewindTo(0); // before what was handed back
    EXPECT_EQ(*queue.front(), 2);
}

// Run under ThreadSanitizer too (scripts/test-threads.sh): every frame arrives once, in order.
TEST(StereoRing, TwoThreadsAtFullSpeedLoseNothing) {
    StereoRing ring(1000);
    constexpr std::size_t kFrames = 500'000;
    std::thread producer([&] {
        float next = 0.0f;
        std::size_t done = 0;
        while (done < kFrames)
            done += produce(ring, next, std::min<std::size_t>(kFrames - done, 333));
    });
    std::size_t got = 0;
    bool inOrder = true;
    while (got < kFrames) {
        const std::size_t n = std::min<std::size_t>(ring.readable(), 77);
        for (std::size_t i = 0; i < n; ++i)
            inOrder = inOrder && ring.frame(i)[0] == static_cast<float>(got + i) &&
                      ring.frame(i)[1] == -ring.frame(i)[0];
        ring.consume(n);
        // As the callback does: hands back a little later than it reads, after going back once.
        if (n > 10) {
            ring.rewindTo(ring.readIndex() - 10);
            ring.consume(10);
        }
        ring.release(ring.readIndex() - std::min<std::uint64_t>(ring.readIndex(), 50));
        got += n;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
}

} // namespace
