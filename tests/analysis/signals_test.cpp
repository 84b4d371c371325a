// Signal names and package pins.
#include <gtest/gtest.h>

#include "signals.h"

TEST(Signals, NamesAndPins)
{
    EXPECT_EQ(pin_name(0), "I0");
    EXPECT_EQ(pin_name(9), "I9");
    EXPECT_EQ(pin_number[9], 11);
    EXPECT_EQ(pin_name(17), "B7");
    EXPECT_EQ(pin_number[17], 19);
    EXPECT_EQ(bx_name(0), pin_name(10));
    EXPECT_EQ(bx_name(0), "B0");
    EXPECT_EQ(pin_number[10], 12);
    EXPECT_EQ(dump_index(1, 0), 1024u);
    EXPECT_EQ(dump_index(255, 1023), DUMP_SIZE - 1);
}
