#include <gtest/gtest.h>
#include "terminal_record.h"
TEST(Placeholder, Builds) { EXPECT_EQ(2, 2); }
