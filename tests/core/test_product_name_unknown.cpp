// A variant key outside the table gives "Unknown".
#include <gtest/gtest.h>

#include "core/product_name.h"

TEST(ProductNameUnknownKey, IsUnknown) {
  EXPECT_EQ(std::u16string(vts::GetProductName()), u"Unknown");
  EXPECT_EQ(vts::GetProductNameUtf8(), "Unknown");
}
