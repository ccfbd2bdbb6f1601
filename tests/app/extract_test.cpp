#include <string>

#include <gtest/gtest.h>

#include "app/extract.h"
#include "file/file_stream.h"
#include "tests/support/test_support.h"

namespace {

const std::string line1 = "1 57166U 23091A   24168.50179166  .00000026  00000-0  31465-4 0  9991";
const std::string line2 = "2 57166  98.7065 126.8744 0005150 251.0505 108.9999 14.23895474 50164";

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
                       "METEOR-M2 21\r\na1\r\na2\r\n"
                       "METEOR-M2 2\r\nb1\r\nb2\r\n";
    EXPECT_EQ(run(text), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\na1\r\na2\r\n");
}

TEST_F(ExtractTest, LowerCaseNameDoesNotMatchAndTheOldFileStays) {
    kt::write_file(output, "previous elements\r\n");
    EXPECT_EQ(run("meteor-m2 2\r\na1\r\na2\r\n"), ExtractResult::not_found);
    EXPECT_EQ(kt::read_file(output), "previous elements\r\n");
}

TEST_F(ExtractTest, LfOnlyAndCrOnlyCataloguesGiveCrLfOutput) {
    EXPECT_EQ(run("X\nMETEOR-M2 2\n" + line1 + "\n" + line2 + "\n"), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
    EXPECT_EQ(run("METEOR-M2 2\r" + line1 + "\r" + line2), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
}

TEST_F(ExtractTest, MissingElementLinesAreWrittenEmpty) {
    EXPECT_EQ(run("A\r\nMETEOR-M2 2\r\n" + line1 + "\r\n"), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n" + line1 + "\r\n\r\n");
    EXPECT_EQ(run("A\r\nMETEOR-M2 2"), ExtractResult::written);
    EXPECT_EQ(kt::read_file(output), "METEOR-M2 2\r\n\r\n\r\n");
}

TEST_F(ExtractTest, MissingCatalogueLeavesTheOutputAlone) {
    kt::write_file(output, "previous elements\r\n");
    EXPECT_EQ(extract_element_set(dir.file("absent").c_str(), output.c_str()),
              ExtractResult::catalogue_unopenable);
    EXPECT_EQ(kt::read_file(output), "previous elements\r\n");
    EXPECT_EQ(run(""), ExtractResult::not_found);
    EXPECT_FALSE(kt::file_exists(dir.file("never")));
}

TEST_F(ExtractTest, UnwritableOutputIsReported) {
    std::string blocked = dir.file("no/such/dir/norad_M2.txt");
    kt::write_file(catalogue, "METEOR-M2 2\r\na\r\nb\r\n");
    EXPECT_EQ(extract_element_set(catalogue.c_str(), blocked.c_str()),
              ExtractResult::output_unwritable);
    EXPECT_EQ(file_stream(CATALOGUE_FILE), nullptr);
}

#ifndef _WIN32
// A full disk: the file is created but its bytes do not reach it. The result
// must not claim the element set was written.
TEST_F(ExtractTest, WritesThatDoNotReachTheDiskAreReported) {
    kt::write_file(catalogue, "METEOR-M2 2\r\n" + line1 + "\r\n" + line2 + "\r\n");
    EXPECT_EQ(extract_element_set(catalogue.c_str(), "/dev/full"),
              ExtractResult::output_unwritable);
    EXPECT_EQ(file_stream(OUTPUT_FILE), nullptr);
}
#endif

} // namespace
