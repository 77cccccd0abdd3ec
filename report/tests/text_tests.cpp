#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>

#include "report/text.h"

namespace krv::text {
namespace {

TEST(NumberReading, ReadsTheLeadingNumberLikeTheReportWriter) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::string_view text;
        double want;
    } cases[] = {
        {"", 0},          {"abc", 0},         {"-", 0},         {".", 0},
        {"  12.5", 12.5}, {"12 34", 1234},    {"1\t2\n3", 123}, {"1\r2", 1},
        {"+ 7", 7},       {"- 2.5", -2.5},    {".5", 0.5},      {"5.", 5},
        {"1.2.3", 1.2},   {"1,234", 1},       {"3.2%", 3.2},    {"0012", 12},
        {"1.5E3", 1500},  {"1.5e-3", 0.0015}, {"2D2", 200},     {"2d+2", 200},
        {"2 E - 1", 0.2}, {"1E", 1},          {"1E+", 1},       {"4DT:", 4},
        {"1e400", inf},   {"-1e400", -inf},   {"1e-400", 0},    {"1e99999999999999999999", inf},
        {"--5", 0},       {"1.5E3.2", 1500},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(readNumber(c.text), c.want) << c.text;
        EXPECT_EQ(readNumberSkippingCommas(c.text), readNumber(stripCommas(c.text))) << c.text;
    }
    EXPECT_EQ(readNumberSkippingCommas(" 12,874.5"), 12874.5);
}

TEST(NumberReading, RoundsExactlyLikeTheStandardLibrary) {
    std::mt19937 rng(11);
    for (int k = 0; k < 20000; ++k) {
        std::string s;
        const int digits = 1 + static_cast<int>(rng() % 24);
        for (int d = 0; d < digits; ++d) s.push_back(static_cast<char>('0' + rng() % 10));
        if (rng() % 2) s.insert(rng() % s.size(), ".");
        s += "e" + std::to_string(static_cast<int>(rng() % 80) - 40);
        double want = 0;
        std::from_chars(s.data(), s.data() + s.size(), want);
        ASSERT_EQ(readNumber(s), want) << s;
    }
}

TEST(NumberReading, NarrowingToSingleRoundsOrRefuses) {
    EXPECT_EQ(toSingle(0.1), 0.1f);
    EXPECT_EQ(toSingle(-FLT_MAX), -FLT_MAX);
    EXPECT_EQ(toSingle(1e-50), 0.0f);
    EXPECT_EQ(toSingle(double{FLT_MAX} * (1 + 2e-8)), FLT_MAX);
    EXPECT_FALSE(toSingle(3.5e38));
    EXPECT_FALSE(toSingle(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(toSingle(std::numeric_limits<double>::quiet_NaN()));
}

TEST(CodePage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);

    EXPECT_EQ(cp1252ToUtf8("\x80\xB5\x9F"), "\u20AC\u00B5\u0178");
    EXPECT_EQ(cp1252ToUtf8("\x81"), "\u0081");
    EXPECT_EQ(utf8ToCp1252("\u00FC\u2122 \u65E5"), "\xFC\x99 ?");
    EXPECT_EQ(utf8ToCp1252("\u0080"), "?");                    // a C1 control the page lacks
    EXPECT_EQ(utf8ToCp1252("a\xC3"), "a?");                    // cut short
    EXPECT_EQ(utf8ToCp1252("\xC0\xAF\xED\xA0\x80"), "?????");  // overlong, surrogate
}

}  // namespace
}  // namespace krv::text
