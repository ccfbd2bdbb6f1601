#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/strings.h"
#include "tests/support/test_support.h"
#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

struct StringsTest : ::testing::Test {
    kt::Runtime runtime;
};

// Text left at the end is gone: a new engine holds the empty string.
TEST_F(StringsTest, AnEngineStartsEmptyEvenAfterAnEarlierOneHeldText) {
    append("left over");
    string_engine_end();
    EXPECT_EQ(string_mark(), 0);
    ASSERT_TRUE(string_engine_start());
    EXPECT_EQ(string_mark(), 0);
    EXPECT_STREQ(string_at(0), "");
}

TEST_F(StringsTest, AppendAndAssignPopBackToTheMark) {
    append("abc");
    const int32_t mark = string_mark();
    append("Kestrin ");
    append("tmp1");
    EXPECT_STREQ(string_at(mark), "Kestrin tmp1");
    StringVar v = nullptr;
    EXPECT_TRUE(assign(&v, mark));
    EXPECT_STREQ(v, "Kestrin tmp1");
    EXPECT_EQ(string_mark(), mark);
    // Reassigning reuses the variable's block: nothing more is held.
    const size_t held = kt::heap_counts(string_heap).live;
    for (const char* value : {"x", "a longer value than before"}) {
        append(value);
        assign(&v, mark);
        EXPECT_STREQ(v, value);
        EXPECT_EQ(kt::heap_counts(string_heap).live, held);
    }
}

TEST_F(StringsTest, AssignOfAnEmptyResultGivesAFiveByteEmptyBlock) {
    StringVar v = nullptr;
    assign(&v, string_mark());
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "");
    EXPECT_EQ(HeapSize(string_heap, 0, v), 5u);
    // A mark past the text holds nothing either.
    append("abc");
    assign(&v, 0);
    assign(&v, string_mark() + 1);
    EXPECT_STREQ(v, "");
}

TEST_F(StringsTest, AppendOfNullOnlyTerminates) {
    append("ab");
    append(nullptr);
    EXPECT_EQ(string_mark(), 2);
    EXPECT_STREQ(string_at(0), "ab");
}

TEST_F(StringsTest, GrowthAddsHeadroomAndKeepsTheBytes) {
    append("0123456789"); // 10 + n >= 16 - 4 grows at once for n >= 2
    std::string long_text(100, 'k');
    append(long_text.c_str());
    EXPECT_EQ(temp_strings.capacity, 10 + 100 + 16384);
    EXPECT_EQ(std::string(string_at(0)), "0123456789" + long_text);
}

TEST_F(StringsTest, ReserveTestsTheLengthNotTheMark) {
    append("0123456789"); // length 10
    // Room for 2 bytes at mark 0 would fit, but 10 + 2 is not below 16 - 4.
    reserve(2, 0);
    EXPECT_EQ(temp_strings.capacity, 10 + 2 + 16384);
    EXPECT_EQ(string_mark(), 2);
    // A mark past the length, or a buffer that would pass 2 GiB: nothing.
    EXPECT_EQ(reserve(1, 3), nullptr);
    EXPECT_EQ(reserve(INT32_MAX - 100, 0), nullptr);
    EXPECT_EQ(string_mark(), 2);
}

TEST_F(StringsTest, CopyWordsTerminatesAtEveryLength) {
    const char source[] = "METEOR-M2 2";
    for (int32_t n = 0; n <= 11; n++) {
        char d[16 + 5];
        std::memset(d, '#', sizeof d);
        copy_words(d, source, n);
        EXPECT_EQ(std::string(d), std::string(source, n)) << n;
    }
}

TEST_F(StringsTest, FindStringIsAOneBasedCaseSensitiveSearch) {
    struct Case {
        const char* s;
        const char* pattern;
        int32_t position;
    } cases[] = {
        {"METEOR-M2 2             ", "METEOR-M2 2", 1},
        {"1 METEOR-M2 2", "METEOR-M2 2", 3},
        {"meteor-m2 2", "METEOR-M2 2", 0},
        {"METEOR-M2 21", "METEOR-M2 2", 1},
        {"METEOR-M 2", "METEOR-M2 2", 0},
        {"", "METEOR-M2 2", 0},
        {"METEOR-M2 2", "", 0},
        {nullptr, "x", 0},
        {"x", nullptr, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(find_string(c.s, c.pattern), c.position) << (c.s ? c.s : "(null)");
}

TEST_F(StringsTest, PathPartKeepsTheLastSeparator) {
    struct Case {
        const char* path;
        const char* part;
    } cases[] = {
        {"D:\\Tools\\Tle\\fetch.exe", "D:\\Tools\\Tle\\"},
        {"\"D:\\Tools\\Tle\\fetch.exe\"", "D:\\Tools\\Tle\\"},
        {"D:/x/y.exe", "D:/x/"},
        {"fetch.exe", ""},
        {"", ""},
        {nullptr, ""},
        {"C:\\a\\b.exe|C:\\c\\d", "C:\\a\\"},
        {"C:\\mixed/sep\\x", "C:\\mixed/sep\\"},
    };
    for (const Case& c : cases) {
        const int32_t mark = string_mark();
        EXPECT_STREQ(get_path_part(c.path, mark), c.part) << (c.path ? c.path : "(null)");
        EXPECT_EQ(string_mark(), mark + int32_t(std::strlen(c.part)));
        temp_strings.length = mark;
    }
}

TEST_F(StringsTest, PathInsideTheBufferIsRefoundAfterTheBufferMoves) {
    // The path sits at a mark past other text, and producing its part must
    // grow (and so move) the buffer.
    append("station ");
    const std::string dir = "C:\\" + std::string(40, 'd') + "\\";
    const int32_t mark = string_mark();
    append((dir + "kestrin.exe").c_str());
    temp_strings.capacity = temp_strings.length + 5; // force growth on the next reserve
    char* part = get_path_part(string_at(mark), mark);
    EXPECT_STREQ(part, dir.c_str());
    EXPECT_EQ(part, temp_strings.buffer + mark);
    EXPECT_EQ(std::string(string_at(0), 8), "station ");
}

TEST_F(StringsTest, ProgramFilenameAndItsDirectory) {
    const int32_t mark = string_mark();
    const char* name = program_filename(mark);
    ASSERT_NE(name, nullptr);
    EXPECT_GT(std::strlen(name), 0u);
    EXPECT_EQ(string_mark(), mark + int32_t(std::strlen(name)));
    get_path_part(string_at(mark), mark);
    append("tmp1");
    StringVar temp_path = nullptr;
    assign(&temp_path, mark);
    std::string path = temp_path;
    ASSERT_GT(path.size(), 5u);
    EXPECT_EQ(path.substr(path.size() - 4), "tmp1");
    char sep = path[path.size() - 5];
    EXPECT_TRUE(sep == '/' || sep == '\\') << path;
}

#ifndef _WIN32
TEST_F(StringsTest, LongPathPrefixIsRemoved) {
    posix_set_module_file_name("\\\\?\\D:\\Tools\\Tle\\fetch.exe");
    const int32_t mark = string_mark();
    EXPECT_STREQ(program_filename(mark), "D:\\Tools\\Tle\\fetch.exe");
    EXPECT_STREQ(get_path_part(string_at(mark), mark), "D:\\Tools\\Tle\\");
    posix_set_module_file_name("\\\\?\\");
    EXPECT_STREQ(program_filename(string_mark()), "");
    posix_set_module_file_name(nullptr);
}

TEST_F(StringsTest, AnOverlongProgramNameGivesTheEmptyString) {
    // MAX_PATH (260) counts the terminator: 259 characters are the most.
    for (auto [length, kept] : {std::pair{259, true}, {260, false}, {300, false}}) {
        std::string name = "/" + std::string(size_t(length) - 1, 'p');
        posix_set_module_file_name(name.c_str());
        EXPECT_EQ(program_filename(string_mark()), kept ? name : "") << length;
    }
    posix_set_module_file_name(nullptr);
}

// Memory that runs short loses no byte already held: the buffer, its length
// and a variable's value stay as they were.
TEST_F(StringsTest, TextThatFindsNoMemoryLeavesEverythingAsItWas) {
    append("kept");
    StringVar v = nullptr;
    append("old value");
    assign(&v, 4);
    const std::string big(20000, 'b');
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(reserve(int32_t(big.size()), 4), nullptr);
    posix_fail_nth(FaultCall::heap_alloc, 1);
    append(big.c_str());
    EXPECT_EQ(string_mark(), 4);
    EXPECT_EQ(std::string(string_at(0), 4), "kept");
    append("new value");
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_FALSE(assign(&v, 4));
    temp_strings.capacity = temp_strings.length + 5; // the name must grow the buffer
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(program_filename(string_mark()), nullptr);
    temp_strings.capacity = temp_strings.length + 5;
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(get_path_part("C:\\stations\\kestrin.exe", string_mark()), nullptr);
    posix_fail_nth(FaultCall::heap_alloc, 0);
    EXPECT_STREQ(v, "old value");
    EXPECT_EQ(string_mark(), 4);
}
#endif

} // namespace
