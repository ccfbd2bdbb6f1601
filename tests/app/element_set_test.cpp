#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/element_set.h"
#include "tests/support/test_support.h"

namespace {

// METEOR-M2 2 as published (checksums 6 and 5).
const std::string L1 = "1 44387U 19038A   24169.92344879  .00000059  00000+0  45474-4 0  9996";
const std::string L2 = "2 44387  98.8265 139.1500 0001105  18.5176 341.6042 14.23894557257495";

std::string with(std::string s, size_t at, char c) {
    s.replace(at, 1, 1, c);
    return s;
}

// Every element set of the published excerpt passes.
TEST(ElementSet, RealCatalogueLinesPass) {
    const std::string text =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    ASSERT_FALSE(text.empty());
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    ASSERT_EQ(lines.size(), 54u);
    for (size_t i = 0; i + 2 < lines.size(); i += 3)
        EXPECT_TRUE(usable_element_set(lines[i + 1], lines[i + 2])) << lines[i];
}

// Each rule broken once, and the fault it is told as.
TEST(ElementSet, EachBrokenRuleFails) {
    using F = ElementSetFault;
    const struct Case {
        const char* name;
        std::string line1, line2;
        ElementSetFault fault;
    } cases[] = {
        {"as published", L1, L2, F::none},
        {"trailing blanks are dropped", L1 + "   ", L2 + " ", F::none},
        {"line 1 one short", L1.substr(0, 68), L2, F::shape},
        {"line 2 one long", L1, L2 + "5", F::shape},
        {"empty lines", "", "", F::shape},
        {"lines swapped", L2, L1, F::shape},
        {"line 1 without its blank", with(L1, 1, '0'), L2, F::shape},
        {"line 2 begins with 3", L1, with(L2, 0, '3'), F::shape},
        {"other catalogue numbers", L1, with(with(L2, 6, '8'), 68, '6'), F::numbers_differ},
        {"a digit damaged", with(L1, 20, '5'), L2, F::checksum},
        {"checksum not a digit", with(L1, 68, 'X'), L2, F::checksum},
        {"a minus counts 1", L1, with(with(L2, 10, '-'), 68, '8'), F::none},
        {"CSV row", "OBJECT_NAME,OBJECT_ID,EPOCH,MEAN_MOTION,ECCENTRICITY,INCLINATION,RA_OF", L2,
         F::shape},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(element_set_fault(c.line1, c.line2), c.fault) << c.name;
        EXPECT_EQ(usable_element_set(c.line1, c.line2), c.fault == F::none) << c.name;
    }
}

TEST(ElementSet, ChecksumCountsDigitsAndMinusSigns) {
    EXPECT_EQ(element_line_checksum(L1), 6);
    EXPECT_EQ(element_line_checksum(L2), 5);
    EXPECT_EQ(element_line_checksum("1 -- 9"), 2);
    // Only the first 68 characters count.
    EXPECT_EQ(element_line_checksum(std::string(68, ' ') + "9"), 0);
}

// Characters 3 to 7, padded with zeros or leading blanks; anything else
// carries no number, a blank after a digit included.
TEST(ElementSet, CatalogueNumberOfALine) {
    using Case = std::pair<std::string_view, uint32_t>;
    for (const auto& [line, number] : {Case{L1, 44387}, Case{"1 00005U", 5}, Case{"1     5U", 5},
                                       Case{"1 57 66U", 0}, Case{"1 5716", 0}})
        EXPECT_EQ(element_line_number(line), number) << line;
}

} // namespace
