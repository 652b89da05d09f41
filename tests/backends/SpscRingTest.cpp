#include "midi/backends/SpscRing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {

TEST(SpscRingTest, HoldsExactlyItsCapacityInOrderAcrossWrapAround) {
  SpscRing<int, 8> ring;
  int next = 0;
  int expected = 0;
  // Several laps with the ring filled to the brim each time.
  for (int lap = 0; lap < 5; ++lap) {
    while (ring.Push(next)) ++next;
    EXPECT_TRUE(ring.Full());
    EXPECT_EQ(ring.Size(), 8u);
    ASSERT_NE(ring.Front(), nullptr);
    EXPECT_EQ(*ring.Front(), expected) << "Front must not remove";
    for (int i = 0; i < 5; ++i) {
      int item = -1;
      ASSERT_TRUE(ring.Pop(item));
      EXPECT_EQ(item, expected++);
    }
    EXPECT_FALSE(ring.Full());
  }
  int item = -1;
  while (ring.Pop(item)) EXPECT_EQ(item, expected++);
  EXPECT_EQ(expected, next);
  EXPECT_EQ(ring.Front(), nullptr);
  EXPECT_FALSE(ring.Pop());
}

TEST(SpscRingTest, AFullRingRefusesWithoutOverwriting) {
  SpscRing<std::uint32_t, 4> ring;
  for (std::uint32_t i = 0; i < 4; ++i) ASSERT_TRUE(ring.Push(i));
  EXPECT_FALSE(ring.Push(99));
  std::uint32_t item = 0;
  for (std::uint32_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(ring.Pop(item));
    EXPECT_EQ(item, i);
  }
}

// Run under ThreadSanitizer too: the payload is plain memory, so a missing
// acquire/release pair shows up as a race or as a torn item.
TEST(SpscRingTest, TwoThreadsPassEveryItemOnceAndInOrder) {
  struct Item {
    std::uint64_t sequence;
    std::uint64_t check;
  };
  constexpr std::uint64_t kItems = 200'000;
  SpscRing<Item, 64> ring;
  std::thread producer([&] {
    for (std::uint64_t i = 0; i < kItems;) {
      if (ring.Push({i, ~i})) {
        ++i;
      } else {
        std::this_thread::yield();
      }
    }
  });
  std::uint64_t expected = 0;
  bool intact = true;
  while (expected < kItems) {
    const Item* item = ring.Front();
    if (!item) {
      std::this_thread::yield();
      continue;
    }
    intact = intact && item->sequence == expected && item->check == ~expected;
    ring.Pop();
    ++expected;
  }
  producer.join();
  EXPECT_TRUE(intact);
  EXPECT_EQ(ring.Front(), nullptr);
}

}  // namespace
