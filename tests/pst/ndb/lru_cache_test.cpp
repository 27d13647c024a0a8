#include "pst/ndb/lru_cache.h"

#include <gtest/gtest.h>

#include <string>

namespace mailfold::pst::ndb {
namespace {

TEST(LruCache, ForgetsTheLeastRecentlyUsedEntryWhenFull) {
  LruCache<int, std::string> cache(3);
  cache.put(1, "one");
  cache.put(2, "two");
  cache.put(3, "three");
  ASSERT_NE(cache.find(1), nullptr);  // 1 is now the most recent; 2 the least
  cache.put(4, "four");
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.find(2), nullptr);
  EXPECT_EQ(*cache.find(1), "one");
  EXPECT_EQ(*cache.find(3), "three");
  EXPECT_EQ(*cache.find(4), "four");

  cache.put(3, "drei");  // replacing counts as a use
  cache.put(5, "five");
  EXPECT_EQ(cache.find(1), nullptr);
  EXPECT_EQ(*cache.find(3), "drei");

  cache.erase(3);
  cache.erase(42);  // absent: nothing happens
  EXPECT_EQ(cache.find(3), nullptr);
  EXPECT_EQ(cache.size(), 2u);
  cache.clear();
  EXPECT_EQ(cache.size(), 0u);
  EXPECT_EQ(cache.find(4), nullptr);
}

// A hot entry used between every put of a stream of one-off entries is never forgotten.
TEST(LruCache, KeepsAHotEntryAmongManyColdOnes) {
  LruCache<int, int> cache(8);
  cache.put(0, 0);
  for (int i = 1; i < 1000; ++i) {
    ASSERT_NE(cache.find(0), nullptr) << "after " << i << " puts";
    cache.put(i, i);
  }
  EXPECT_EQ(cache.size(), 8u);
}

}  // namespace
}  // namespace mailfold::pst::ndb
