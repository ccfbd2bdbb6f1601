#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/download.h"

namespace {

// Every line split_line cuts off, until it returns null.
std::vector<std::string> lines_of(std::string text) {
    std::vector<std::string> lines;
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    char* line = buffer.data();
    for (int i = 0; line && i < 100; i++) {
        char* next = split_line(line);
        if (!next) break;
        lines.emplace_back(line);
        line = next;
    }
    return lines;
}

TEST(SplitLine, CutsAtEachLineEnd) {
    using L = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string text;
        L expected;
    } cases[] = {
        {"CR LF lines", "a\r\nbc\r\n", {"a", "bc"}},
        {"last line without an end", "a\r\nb", {"a", "b"}},
        {"CR alone", "a\rb", {"a", "b"}},
        {"LF alone", "a\nb\n", {"a", "b"}},
        {"empty line between", "a\r\n\r\nb", {"a", "", "b"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"empty text", "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lines_of(c.text), c.expected) << c.name;
}

TEST(SplitLine, ReturnsTheTerminatorWhenThereIsNoLineEnd) {
    char text[] = "no end";
    EXPECT_EQ(split_line(text), text + 6);
    EXPECT_EQ(split_line(text + 6), nullptr);
    EXPECT_EQ(split_line(nullptr), nullptr);
}

} // namespace
