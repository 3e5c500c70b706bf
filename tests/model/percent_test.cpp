// The one percentage rule of the card, the tray, the widgets and tesselctl.
#include <gtest/gtest.h>

#include "model/display.h"

namespace tessel {
namespace {

TEST(Percent, WholeNumbersWithHalvesToTheEvenNeighbour) {
    const std::pair<double, const char*> cases[] = {
        {62.5, "62"},    {63.5, "64"}, {0.5, "0"},   {1.5, "2"},
        {99.5, "100"},   {37.5, "38"}, {42.9, "43"}, {14.6, "15"},
        {14.4999, "14"}, {100, "100"}, {150, "150"}, {0, "0"},
        {-5, "-5"},      {-3.5, "-4"}, {-2.5, "-2"}, {1e15, "1000000000000000"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(Display::percent(value), text) << value;
}

} // namespace
} // namespace tessel
