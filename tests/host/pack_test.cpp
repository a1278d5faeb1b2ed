#include "pack.h"
#include <gtest/gtest.h>
TEST(Pack, Placeholder) { EXPECT_EQ(1, 1); }
