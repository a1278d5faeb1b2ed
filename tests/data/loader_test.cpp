#include <gtest/gtest.h>
#include "data/data.h"
TEST(Loader, Placeholder) { EXPECT_EQ(GetMessageText(3)[0], 0); }
