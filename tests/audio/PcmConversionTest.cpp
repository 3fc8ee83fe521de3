#include "audio/PcmConversion.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace lumora {
namespace {

TEST(PcmConversionTest, ClampsScalesAndTruncatesEachSampleIntoLittleEndianBytes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const struct {
        float in;
        qint16 out;
    } cases[] = {
        { 1.0f, 32767 },
        { 1.5f, 32767 },
        { infinity, 32767 },
        { nan, 32767 },
        { -1.0f, -32767 },
        { -7.0f, -32767 },
        { -infinity, -32767 },
        { 0.5f, 16383 },
        { -0.5f, -16383 },
        { 0.0f, 0 },
        { 0.00002f, 0 },
        { -0.00004f, -1 },
        { 0.25f, 8191 },
    };
    std::vector<float> samples;
    for (const auto& c : cases) {
        EXPECT_EQ(PcmConversion::sample(c.in), c.out) << c.in;
        samples.push_back(c.in);
    }

    const auto block = PcmConversion::block(samples.data(), qsizetype(samples.size()));
    ASSERT_TRUE(block.has_value());
    ASSERT_EQ(block->size(), qsizetype(samples.size() * 2));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<unsigned char>(block->at(qsizetype(2 * i)));
        const auto high = static_cast<unsigned char>(block->at(qsizetype(2 * i + 1)));
        EXPECT_EQ(qint16(quint16(low | (high << 8))), cases[i].out) << i;
    }
}

TEST(PcmConversionTest, NoChannelDataGivesNoBlockAndNoFramesAnEmptyOne)
{
    EXPECT_FALSE(PcmConversion::block(nullptr, 4096).has_value());
    const float sample = 0.5f;
    const auto empty = PcmConversion::block(&sample, 0);
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->isEmpty());
}

} // namespace
} // namespace lumora
