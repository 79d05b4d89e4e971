// Scrambling, packed BCD and day numbers.
#include <gtest/gtest.h>

#include <random>

#include "engine/codec.h"

using namespace veltra;

TEST(ScrambleTest, IsSelfInverseAndFollowsTheKeyWalk) {
    std::mt19937 gen(7);
    std::vector<uint8_t> data(1000);
    for (auto& b : data) b = uint8_t(gen());
    std::vector<uint8_t> copy = data;
    for (TScrambleKey key : {kTableKey, kPasswordKey, TScrambleKey{0, 0}, TScrambleKey{255, 1}}) {
        Scramble(data.data(), data.size(), key);
        for (size_t i = 0; i < data.size(); ++i)
            ASSERT_EQ(data[i], uint8_t(copy[i] ^ uint8_t(key.K1 + i) ^ uint8_t(key.K2 - i))) << i;
        Scramble(data.data(), data.size(), key);
        EXPECT_EQ(data, copy);
    }
    Scramble(data.data(), 0, kTableKey);
    EXPECT_EQ(data, copy);
    EXPECT_NE(kTableKey.K1 * 256 + kTableKey.K2, kPasswordKey.K1 * 256 + kPasswordKey.K2);
}

TEST(BcdTest, PacksRoundsAndUnpacks) {
    struct Case {
        double Value;
        uint8_t Decimals;
        int64_t Packed;
        const char* Text;
    } cases[] = {
        {1.5, 2, 1502, "1.50"},       {-123.45, 2, -123452, "-123.45"}, {7, 0, 70, "7"},
        {0.005, 2, 12, "0.01"},       {-0.005, 2, -12, "-0.01"},        {0.0049, 2, 2, "0.00"},
        {12.3456, 4, 1234564, "12.3456"}, {2.5, 0, 30, "3"},            {-2.5, 0, -30, "-3"},
        {0.05, 1, 11, "0.1"},         {0, 3, 3, "0.000"},
    };
    for (const auto& c : cases) {
        int64_t packed = 0;
        ASSERT_TRUE(PackBcd(CurrencyFromDouble(c.Value), c.Decimals, packed));
        EXPECT_EQ(packed, c.Packed) << c.Value;
        EXPECT_EQ(BcdToText(packed), c.Text) << c.Value;
    }
    EXPECT_EQ(UnpackBcd(1502), 15000);
    EXPECT_EQ(UnpackBcd(-123452), -1234500);
    EXPECT_EQ(UnpackBcd(70), 70000);
    int64_t packed;
    EXPECT_FALSE(PackBcd(INT64_MAX, 4, packed));
}

TEST(DayNumberTest, FixedPointsAndRoundTrip) {
    EXPECT_EQ(EncodeDayNumber(1, 1, 1), 1);
    EXPECT_EQ(EncodeDayNumber(1899, 12, 30), kDayNumberOf18991230);
    EXPECT_EQ(EncodeDayNumber(2000, 3, 1) - EncodeDayNumber(2000, 2, 28), 2);
    EXPECT_EQ(EncodeDayNumber(1900, 3, 1) - EncodeDayNumber(1900, 2, 28), 1);
    for (int32_t day = 1; day < 3'652'059; day += 997) {
        int y, m, d;
        DecodeDayNumber(day, y, m, d);
        ASSERT_TRUE(IsValidDate(y, m, d)) << day;
        ASSERT_EQ(EncodeDayNumber(y, m, d), day);
    }
    EXPECT_FALSE(IsValidDate(2023, 2, 29));
    EXPECT_TRUE(IsValidDate(2024, 2, 29));
    EXPECT_FALSE(IsValidDate(0, 1, 1));
    EXPECT_DOUBLE_EQ(DateTimeFromDayNumber(kDayNumberOf18991230 + 2, 43200000), 2.5);
}
