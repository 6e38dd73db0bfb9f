// The variant name of this build: the configured one, one pointer on every thread.
#include "core/product_name.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

TEST(ProductName, IsTheConfiguredVariant) {
  EXPECT_EQ(vts::GetProductNameUtf8(), VTS_EXPECTED_VARIANT);
  std::u16string wide = vts::GetProductName();
  EXPECT_EQ(wide.size(), vts::GetProductNameUtf8().size());
}

TEST(ProductName, SamePointerFromManyThreadsAtOnce) {
  std::vector<const char16_t*> seen(16);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = vts::GetProductName(); });
  for (auto& t : threads) t.join();
  std::set<const char16_t*> distinct(seen.begin(), seen.end());
  EXPECT_EQ(distinct.size(), 1u);
  EXPECT_EQ(*distinct.begin(), vts::GetProductName());
}
