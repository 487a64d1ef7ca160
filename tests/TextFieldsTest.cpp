// The fields and numbers of the manifest, the journal and the configuration.
#include "TextFields.h"

#include <gtest/gtest.h>

namespace {

TEST(TextFieldsTest, NumbersAreOneToEighteenAsciiDigits)
{
    const struct {
        const char* text;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"0", true, 0},
        {"202612091200", true, 202612091200ull},
        {"999999999999999999", true, 999999999999999999ull},  // 18 digits: the most that always fit
        {"1000000000000000000", false, 0},                    // 19
        {"", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint64_t value = 7;
        EXPECT_EQ(ParseDecimal(c.text, value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
        }
    }
}

TEST(TextFieldsTest, WideNumbersAreZeroUnlessPlainDigits)
{
    EXPECT_EQ(DecimalOrZero(L"202612091200"), 202612091200ull);
    EXPECT_EQ(DecimalOrZero(L""), 0u);
    EXPECT_EQ(DecimalOrZero(L"12a"), 0u);
    EXPECT_EQ(DecimalOrZero(L"\xFF11\xFF12"), 0u) << "full-width digits";
    EXPECT_EQ(DecimalOrZero(L"1\x0131"), 0u) << "U+0131 cut to 8 bits would read as '1'";
    EXPECT_EQ(DecimalOrZero(L"1000000000000000000"), 0u) << "19 digits";
}

TEST(TextFieldsTest, TabsSeparateFieldsEmptyOnesIncluded)
{
    EXPECT_EQ(SplitTabs("commit"), std::vector<std::string>{"commit"});
    EXPECT_EQ(SplitTabs(""), std::vector<std::string>{""});
    EXPECT_EQ(SplitTabs("file\ta\tb\t"), (std::vector<std::string>{"file", "a", "b", ""}));
    EXPECT_EQ(SplitTabs("\t\t"), (std::vector<std::string>{"", "", ""}));
}

}  // namespace
