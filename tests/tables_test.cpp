#include <gtest/gtest.h>
#include <synthtab/tabinit.h>
TEST(Placeholder, Builds) { make_decode_tables(1); EXPECT_NE(decwin[8], 0.0); }
