#include <string>

#include <gtest/gtest.h>

#include "app/extract.h"
#include "app/replace.h"
#include "file/file_stream.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

// Real element lines (NOAA 18 and NOAA 15, from the published catalogue).
const std::string line1 = "1 28654U 05018A   24169.91608596  .00000284  00000+0  17494-3 0  9996";
const std::string line2 = "2 28654  98.8743 246.8749 0015146  64.1200 296.1532 14.13233021983273";
const std::string other1 = "1 25338U 98030A   24169.93801846  .00000329  00000+0  15393-3 0  9999";
const std::string other2 = "2 25338  98.5680 197.0492 0009520 328.5342  31.5268 14.26605440357297";

struct ExtractTest : ::testing::Test {
    kt::Runtime runtime;
    kt::TempDir dir;
    std::string catalogue = dir.file("tmp1");
    std::string output = dir.file("norad_M2.txt");
    void SetUp() override { ASSERT_TRUE(file_streams_start()); }
    void TearDown() override { file_streams_end(); }

    ExtractResult run(const std::string& bytes) {
        kt::write_file(catalogue, bytes);
        return extract_element_set(catalogue.c_str(), output.c_str());
    }
};

TEST_F(ExtractTest, RealCatalogueExcerptGivesTheExpectedFile) {
    std::string excerpt = kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.txt"));
    std::string expected =
        kt::read_file(kt::testdata("catalogues/weather-2024-06-17-excerpt.expected-norad_M2.txt"));
    ASSERT_FALSE(excerpt.empty());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(run(excerpt), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), expected);
    EXPECT_EQ(file_stream(OUTPUT_FILE), nullptr); // closed: on disk now
    EXPECT_EQ(file_stream(CATALOGUE_FILE), nullptr);
}

TEST_F(ExtractTest, PaddedNameIsWrittenWithoutItsBlanks) {
    EXPECT_EQ(run("METEOR-M2 2             \r\n" + line1 + "\r\n" + line2 + "\r\n"),
              ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
}

TEST_F(ExtractTest, FirstLineContainingTheNameWins) {
    std::string text = "NOAA 19\r\nx1\r\nx2\r\n"
                       "METEOR-M2 21\r\n" +
                       other1 + "\r\n" + other2 + "\r\nMETEOR-M2 2\r\n" + line1 + "\r\n" + line2 +
                       "\r\n";
    EXPECT_EQ(run(text), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + other1 + "\r\n" + other2 + "\r\n");
}

// Asked for by number, the first two element lines that carry it win, with
// the line before them as the name (its padding dropped); a line that can
// name no set leaves the previous file.
TEST_F(ExtractTest, ByNumberTheFirstSetCarryingItWins) {
    const std::string group = "NOAA 18    \r\n" + line1 + "\r\n" + line2 + "\r\nNOAA 15\r\n" +
                              other1 + "\r\n" + other2 + "\r\n";
    const struct {
        std::string catalogue;
        uint32_t number;
        ExtractResult result;
        std::string file;
    } cases[] = {
        {group, 28654, ExtractResult::written, "NOAA 18\r\n" + line1 + "\r\n" + line2 + "\r\n"},
        {group, 25338, ExtractResult::written, "NOAA 15\r\n" + other1 + "\r\n" + other2 + "\r\n"},
        {group, 57166, ExtractResult::not_found, "previous\r\n"},
        {line1 + "\r\n" + line2 + "\r\n", 28654, ExtractResult::unusable, "previous\r\n"},
        {std::string(25, 'N') + "\r\n" + line1 + "\r\n" + line2, 28654, ExtractResult::unusable,
         "previous\r\n"},
    };
    for (const auto& c : cases) {
        kt::write_file(output, "previous\r\n");
        kt::write_file(catalogue, c.catalogue);
        EXPECT_EQ(extract_element_set(catalogue.c_str(), output.c_str(), nullptr, c.number),
                  c.result)
            << c.number;
        EXPECT_EQ(kt::read_file(output), c.file) << c.number;
    }
}

TEST_F(ExtractTest, LowerCaseNameDoesNotMatchAndTheOldFileStays) {
    kt::write_file(output, "previous elements\r\n");
    EXPECT_EQ(run("meteor-m2 2\r\n" + line1 + "\r\n" + line2 + "\r\n"), ExtractResult::not_found);
    EXPECT_EQ(kt::read_file(output), "previous elements\r\n");
}

TEST_F(ExtractTest, LfOnlyAndCrOnlyCataloguesGiveCrLfOutput) {
    EXPECT_EQ(run("X\nMETEOR-M2 2\n" + line1 + "\n" + line2 + "\n"), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
    EXPECT_EQ(run("METEOR-M2 2\r" + line1 + "\r" + line2), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
}

// What follows the name must be a usable element set, or the previous file
// stands: missing lines, an error page, a body cut inside a line.
TEST_F(ExtractTest, NameWithoutAUsableSetKeepsThePreviousFile) {
    const std::string cases[] = {
        "A\r\nMETEOR-M2 2\r\n" + line1 + "\r\n",
        "A\r\nMETEOR-M2 2",
        "<html><title>METEOR-M2 2</title>\n<body>No GP data found</body></html>\n",
        "METEOR-M2 2\r\n" + line1 + "\r\n" + line2.substr(0, 40),
    };
    for (const std::string& text : cases) {
        kt::write_file(output, "previous elements\r\n");
        EXPECT_EQ(run(text), ExtractResult::unusable) << text;
        EXPECT_EQ(kt::read_file(output), "previous elements\r\n") << text;
        EXPECT_EQ(file_stream(OUTPUT_FILE), nullptr);
    }
    // Trailing blanks pass the check and are written as read.
    EXPECT_EQ(run("METEOR-M2 2\r\n" + line1 + "  \r\n" + line2 + "\r\n"), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "  \r\n" + line2 + "\r\n");
}

TEST_F(ExtractTest, MissingCatalogueLeavesTheOutputAlone) {
    kt::write_file(output, "previous elements\r\n");
    EXPECT_EQ(extract_element_set(dir.file("absent").c_str(), output.c_str()),
              ExtractResult::catalogue_unopenable);
    EXPECT_EQ(kt::read_file(output), "previous elements\r\n");
    EXPECT_EQ(run(""), ExtractResult::not_found);
    EXPECT_EQ(kt::read_file(output), "previous elements\r\n");
    EXPECT_FALSE(kt::file_exists(output + REPLACEMENT_SUFFIX));
}

TEST_F(ExtractTest, UnwritableOutputIsReported) {
    std::string blocked = dir.file("no/such/dir/norad_M2.txt");
    kt::write_file(catalogue, "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
    EXPECT_EQ(extract_element_set(catalogue.c_str(), blocked.c_str()),
              ExtractResult::output_unwritable);
    EXPECT_EQ(file_stream(CATALOGUE_FILE), nullptr);
}

#ifndef _WIN32
// A full disk, a failed flush or a failed move: the previous file stands and
// the new one is gone; the result does not claim the set was written.
TEST_F(ExtractTest, FailedReplacementKeepsThePreviousFile) {
    // With the system's reason: access denied, a full disk, a held file.
    for (auto [call, error] : {std::pair{FaultCall::create_file, 5u},
                               {FaultCall::write_file, 112u},
                               {FaultCall::flush_file, 112u},
                               {FaultCall::move_file, 32u}}) {
        kt::write_file(catalogue, "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
        kt::write_file(output, "previous elements\r\n");
        kt::write_file(output + REPLACEMENT_SUFFIX, "left by a start that was stopped");
        // The catalogue is opened first: the output's creates come after it.
        if (call == FaultCall::create_file)
            posix_fail_from(call, 2);
        else
            posix_fail_nth(call, 1);
        ExtractDetail detail{};
        EXPECT_EQ(extract_element_set(catalogue.c_str(), output.c_str(), &detail),
                  ExtractResult::output_unwritable)
            << int(call);
        posix_fail_nth(call, 0);
        EXPECT_EQ(detail.system_error, error) << int(call);
        EXPECT_EQ(kt::read_file(output), "previous elements\r\n");
        EXPECT_FALSE(kt::file_exists(output + REPLACEMENT_SUFFIX));
        EXPECT_EQ(file_stream(OUTPUT_FILE), nullptr);
    }
}

// Memory that stays short from the k-th allocation on, with the string
// buffer as small as at the start: the extraction still ends, and the
// previous file stands unless the new set was written whole.
TEST(ExtractMemory, EndsWhenMemoryStaysShort) {
    kt::TempDir dir;
    const std::string catalogue = dir.file("tmp1"), output = dir.file("norad_M2.txt");
    const std::string set = "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n";
    // The first line outgrows the buffer the first reservation gives.
    kt::write_file(catalogue, std::string(30000, '#') + "\r\n" + set);
    uint32_t k = 1;
    ExtractResult result = ExtractResult::not_found;
    for (; k < 1000; k++) {
        kt::write_file(output, "previous elements\r\n");
        uint32_t made;
        {
            kt::Runtime runtime;
            ASSERT_TRUE(file_streams_start());
            posix_fail_from(FaultCall::heap_alloc, k);
            result = extract_element_set(catalogue.c_str(), output.c_str());
            made = posix_calls_made(FaultCall::heap_alloc);
            posix_fail_nth(FaultCall::heap_alloc, 0);
            file_streams_end();
        }
        EXPECT_EQ(kt::read_file(output),
                  result == ExtractResult::written ? set : "previous elements\r\n")
            << k;
        if (k > made) break;
        // The set is there: a catalogue that could not be read is not one
        // without it.
        EXPECT_NE(result, ExtractResult::not_found) << k;
    }
    EXPECT_GT(k, 3u) << "allocations to fail";
    EXPECT_EQ(result, ExtractResult::written) << "the run in which nothing failed";
}
#endif

} // namespace
