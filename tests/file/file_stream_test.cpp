#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/strings.h"
#include "file/file_stream.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include "platform/faults.h"
#endif

namespace {

struct FileStreamTest : ::testing::Test {
    kt::Runtime runtime;
    kt::TempDir dir;
    void SetUp() override { ASSERT_TRUE(file_streams_start()); }
    void TearDown() override { file_streams_end(); }

    // Every line of the file, read through file 0 until it is at its end.
    std::vector<std::string> lines_of(const std::string& bytes) {
        std::string path = dir.file("lines.txt");
        kt::write_file(path, bytes);
        EXPECT_NE(open_file_read(0, path.c_str()), 0);
        std::vector<std::string> lines;
        while (!file_at_end(0)) {
            const int32_t mark = string_mark();
            lines.emplace_back(read_line(0, mark));
            EXPECT_EQ(string_mark(), mark + int32_t(lines.back().size()));
            temp_strings.length = mark;
            if (lines.size() > 100000) break;
        }
        close_file(0);
        return lines;
    }
};

using Lines = std::vector<std::string>;

TEST_F(FileStreamTest, LineEnds) {
    struct Case {
        const char* name;
        std::string bytes;
        Lines lines;
    } cases[] = {
        {"crlf lf cr and none", "p\r\nq\nr\rs", {"p", "q", "r", "s"}},
        {"lf cr is two ends", "a\n\rb", {"a", "", "b"}},
        {"zero byte ends a line", std::string("ab\0cd\n", 6), {"ab", "cd"}},
        {"cr as the last byte", "x\r", {"x"}},
        {"empty lines", "\r\n\r\n", {"", ""}},
        {"empty file", "", {}},
        {"only lf", "\n", {""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lines_of(c.bytes), c.lines) << c.name;
}

TEST_F(FileStreamTest, CrAtTheEndOfABufferLoadWithLfAtTheStartOfTheNext) {
    std::string first(4095, 'a');
    Lines lines = lines_of(first + "\r\nb\r\n");
    EXPECT_EQ(lines, (Lines{first, "b"}));
}

TEST_F(FileStreamTest, LongLinesAreReadWhole) {
    std::string line(10000, 'z');
    line[4095] = 'y';
    line[9999] = 'e';
    EXPECT_EQ(lines_of(line + "\r\nnext"), (Lines{line, "next"}));
    std::string huge(70000, 'h');
    EXPECT_EQ(lines_of(huge), (Lines{huge}));
}

TEST_F(FileStreamTest, ReadLineOnAClosedNumberGivesTheEmptyString) {
    append("keep");
    const int32_t mark = string_mark();
    EXPECT_STREQ(read_line(7, mark), "");
    EXPECT_EQ(string_mark(), mark);
    EXPECT_STREQ(string_at(0), "keep");
    EXPECT_EQ(file_at_end(7), 0);
    EXPECT_EQ(write_line(7, "x"), 0);
    EXPECT_EQ(close_file(7), 0);
}

TEST_F(FileStreamTest, EmptyFileIsAtItsEndAtOnce) {
    std::string path = dir.file("empty");
    kt::write_file(path, "");
    ASSERT_NE(open_file_read(0, path.c_str()), 0);
    EXPECT_NE(file_at_end(0), 0);
    EXPECT_STREQ(read_line(0, string_mark()), "");
}

TEST_F(FileStreamTest, WritesStayBufferedUntilClose) {
    std::string path = dir.file("out.txt");
    ASSERT_NE(create_file(10, path.c_str()), 0);
    EXPECT_EQ(write_line(10, "METEOR-M2 2"), 13);
    EXPECT_EQ(write_line(10, nullptr), 2);
    EXPECT_EQ(write_line(10, ""), 2);
    EXPECT_EQ(kt::read_file(path).size(), 0u);
    close_file(10);
    EXPECT_EQ(kt::read_file(path), "METEOR-M2 2\r\n\r\n\r\n");
}

TEST_F(FileStreamTest, EndOfLibraryWritesOutOpenFiles) {
    std::string path = dir.file("late.txt");
    ASSERT_NE(create_file(10, path.c_str()), 0);
    write_line(10, "late");
    file_streams_end();
    EXPECT_EQ(kt::read_file(path), "late\r\n");
    file_streams_start();
}

TEST_F(FileStreamTest, WritesLongerThanTheBufferGoStraightThrough) {
    std::string path = dir.file("big.txt");
    ASSERT_NE(create_file(0, path.c_str()), 0);
    std::string small(100, 's'), big(5000, 'b');
    write_line(0, small.c_str());
    EXPECT_EQ(write_line(0, big.c_str()), 5002);
    // The small line was flushed first, the big one written directly; only
    // its CR LF waits in the buffer.
    EXPECT_EQ(kt::read_file(path), small + "\r\n" + big);
    close_file(0);
    EXPECT_EQ(kt::read_file(path), small + "\r\n" + big + "\r\n");
}

TEST_F(FileStreamTest, AnEndTestAfterWritesFlushesThem) {
    std::string path = dir.file("mixed.txt");
    ASSERT_NE(create_file(0, path.c_str()), 0);
    write_line(0, "one");
    write_line(0, "two");
    EXPECT_EQ(kt::read_file(path), "");
    // The end test switches the buffer to reading, which writes it out; the
    // position is then the end of the file.
    EXPECT_NE(file_at_end(0), 0);
    EXPECT_EQ(kt::read_file(path), "one\r\ntwo\r\n");
    write_line(0, "three");
    close_file(0);
    EXPECT_EQ(kt::read_file(path), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(FileStreamTest, WriteAfterReadAheadContinuesAtTheLogicalPosition) {
    std::string path = dir.file("rw.txt");
    ASSERT_NE(create_file(0, path.c_str()), 0);
    write_line(0, "aaaa");
    write_line(0, "bbbb");
    close_file(0);
    // Open through create's handle (read and write) by re-creating is not
    // possible without truncating, so write the data, then read part of it
    // back through a file created in the same run.
    ASSERT_NE(create_file(0, path.c_str()), 0);
    write_line(0, "line1");
    write_line(0, "line2");
    write_line(0, "line3");
    // Move back to the start through the OS and read one line: the buffer
    // reads ahead the rest.
    FileStream* f = file_stream(0);
    ASSERT_NE(f, nullptr);
    flush_buffer(f);
    f->mode = FileMode::read;
    f->count = f->fill = 0;
    SetFilePointer(f->handle, 0, nullptr, FILE_BEGIN);
    EXPECT_STREQ(read_line(0, string_mark()), "line1");
    temp_strings.length = 0;
    // Writing now replaces line2, not the bytes after the read-ahead.
    write_line(0, "LINE2");
    close_file(0);
    EXPECT_EQ(kt::read_file(path), "line1\r\nLINE2\r\nline3\r\n");
}

TEST_F(FileStreamTest, RecreatingALiveNumberWritesOutTheOldFileFirst) {
    std::string first = dir.file("first.txt"), second = dir.file("second.txt");
    ASSERT_NE(create_file(10, first.c_str()), 0);
    write_line(10, "old");
    ASSERT_NE(create_file(10, second.c_str()), 0);
    EXPECT_EQ(kt::read_file(first), "old\r\n");
    write_line(10, "new");
    close_file(10);
    EXPECT_EQ(kt::read_file(second), "new\r\n");
}

TEST_F(FileStreamTest, CreateEmptiesAnExistingFile) {
    std::string path = dir.file("full.txt");
    kt::write_file(path, "previous contents");
    ASSERT_NE(create_file(1, path.c_str()), 0);
    EXPECT_EQ(kt::read_file(path), "");
}

TEST_F(FileStreamTest, OpenFailuresLeaveNothingLive) {
    std::string missing = dir.file("missing.txt");
    EXPECT_EQ(open_file_read(0, missing.c_str()), 0);
    EXPECT_EQ(file_stream(0), nullptr);
    const size_t blocks = kt::heap_counts().live;
    EXPECT_EQ(open_file_read(ANY_OBJECT, missing.c_str()), 0);
    EXPECT_EQ(kt::heap_counts().live, blocks) << "the dynamic record is given back";
    EXPECT_EQ(open_file_read(0, nullptr), 0);
    EXPECT_EQ(create_file(0, dir.path.string().c_str()), 0); // a directory
    EXPECT_EQ(create_file(0, dir.file("no/such/dir/x").c_str()), 0);
#ifndef _WIN32
    // No memory for a dynamic file's record.
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_EQ(create_file(ANY_OBJECT, missing.c_str()), 0);
    posix_fail_nth(FaultCall::heap_alloc, 0);
    // Closing gives back everything opening took.
    const size_t before = kt::heap_counts().live;
    const intptr_t brief = create_file(ANY_OBJECT, dir.file("brief.txt").c_str());
    ASSERT_NE(brief, 0);
    EXPECT_GT(kt::heap_counts().live, before);
    EXPECT_EQ(close_file(ObjectId(brief)), 1);
    EXPECT_EQ(kt::heap_counts().live, before);
    // No name: a live file of that number stays open.
    ASSERT_NE(create_file(0, dir.file("live.txt").c_str()), 0);
    EXPECT_EQ(open_file_read(0, nullptr), 0);
    EXPECT_NE(file_stream(0), nullptr);
    close_file(0);
    // A file that may not be made: the reason is the refusal, not the
    // fallback's finding no file to empty.
    posix_fail_nth(FaultCall::create_file, 1);
    EXPECT_EQ(create_file(0, missing.c_str()), 0);
    EXPECT_EQ(GetLastError(), 5u);
    posix_fail_nth(FaultCall::create_file, 0);
    // No memory for the file table: the library does not start.
    posix_fail_nth(FaultCall::heap_alloc, 1);
    EXPECT_FALSE(file_streams_start());
    posix_fail_nth(FaultCall::heap_alloc, 0);
#endif
    EXPECT_FALSE(kt::file_exists(missing));
}

TEST_F(FileStreamTest, DynamicFilesAreClosedOldestFirstAtTheEnd) {
    std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    intptr_t ha = create_file(ANY_OBJECT, a.c_str());
    intptr_t hb = create_file(ANY_OBJECT, b.c_str());
    ASSERT_NE(ha, 0);
    ASSERT_NE(hb, 0);
    EXPECT_NE(ha, hb);
    write_line(ha, "a");
    write_line(hb, "b");
    close_file(ANY_OBJECT);
    EXPECT_EQ(kt::read_file(a), "a\r\n");
    EXPECT_EQ(kt::read_file(b), "b\r\n");
    EXPECT_EQ(write_line(ha, "late"), 0);
}

TEST_F(FileStreamTest, ReadOnlyFileIsNotDeleted) {
    std::string path = dir.file("ro.txt");
    kt::write_file(path, "keep");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(delete_file(path.c_str()), 0);
    EXPECT_EQ(kt::read_file(path), "keep");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(delete_file(path.c_str()), 0);
    EXPECT_FALSE(kt::file_exists(path));
    EXPECT_EQ(delete_file(nullptr), 0);
    EXPECT_EQ(delete_file(path.c_str()), 0);
}

#ifdef _WIN32
TEST_F(FileStreamTest, HiddenFileIsTruncatedThroughTheSecondTry) {
    std::string path = dir.file("hidden.txt");
    kt::write_file(path, "secret");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_NE(create_file(0, path.c_str()), 0);
    write_line(0, "x");
    close_file(0);
    EXPECT_EQ(kt::read_file(path), "x\r\n");
    EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(FileStreamTest, OthersMayReadButNotWriteAnOpenFile) {
    std::string path = dir.file("shared.txt");
    ASSERT_NE(create_file(0, path.c_str()), 0);
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}
#endif

// Reads of any size, across buffer loads and past the end, give the file's
// bytes in order.
TEST_F(FileStreamTest, ReadsOfAnySizeGiveTheBytesInOrder) {
    std::string bytes;
    for (int i = 0; i < 13000; i++)
        bytes += char('a' + i % 23);
    const std::string path = dir.file("pieces.bin");
    kt::write_file(path, bytes);
    ASSERT_NE(open_file_read(0, path.c_str()), 0);
    std::string got;
    for (int32_t n : {1, 7, 9000, 100, 0, 3, 4096}) {
        std::string piece(size_t(n), '#');
        const int32_t read = buffered_read(file_stream(0), piece.data(), n);
        EXPECT_EQ(read, std::min<int32_t>(n, int32_t(bytes.size() - got.size()))) << n;
        got += piece.substr(0, size_t(read));
    }
    EXPECT_EQ(got, bytes);
    close_file(0);
}

// With no buffer to be had the file works byte by byte, with the same results.
TEST_F(FileStreamTest, UnbufferedFilesReadAndWriteTheSameBytes) {
    std::string path = dir.file("unbuffered.txt");
    ASSERT_NE(create_file(0, path.c_str()), 0);
    FileStream* f = file_stream(0);
    heap_free(f->buffer);
    f->buffer = nullptr;
    EXPECT_EQ(write_line(0, "p"), 3);
    EXPECT_EQ(kt::read_file(path), "p\r\n"); // no buffer: on disk at once
    close_file(0);

    kt::write_file(path, "p\r\nq\nr\rs");
    ASSERT_NE(open_file_read(0, path.c_str()), 0);
    f = file_stream(0);
    heap_free(f->buffer);
    f->buffer = nullptr;
    Lines lines;
    while (!file_at_end(0)) {
        lines.emplace_back(read_line(0, 0));
        temp_strings.length = 0;
    }
    EXPECT_EQ(lines, (Lines{"p", "q", "r", "s"}));
}

#ifndef _WIN32
// A write that fills the buffer writes out what it held; when that fails (a
// full disk), the write reports nothing taken instead of the bytes it keeps.
TEST_F(FileStreamTest, AFailedFlushShowsInTheWriteThatCausedIt) {
    const std::string path = dir.file("full.txt");
    ASSERT_NE(create_file(0, path.c_str()), 0);
    const std::string line(3000, 'x');
    EXPECT_EQ(write_line(0, line.c_str()), 3002);
    EXPECT_EQ(write_line(0, line.c_str()), 3002); // the first is written out to make room
    posix_fail_nth(FaultCall::write_file, 1);
    EXPECT_LT(write_line(0, line.c_str()), 3002);
    posix_fail_nth(FaultCall::write_file, 0);
    EXPECT_EQ(close_file(0), 1);
    // A line longer than the buffer goes straight out after the buffer: when
    // that write fails, none of the line is taken, only its line end (still
    // buffered).
    ASSERT_NE(create_file(0, path.c_str()), 0);
    posix_fail_nth(FaultCall::write_file, 2);
    EXPECT_EQ(write_line(0, std::string(5000, 'y').c_str()), 2);
    posix_fail_nth(FaultCall::write_file, 0);
    EXPECT_EQ(close_file(0), 1);
}

// A read that fails (a disk error) ends the data there: no byte is made up.
TEST_F(FileStreamTest, AFailedReadEndsTheData) {
    const std::string path = dir.file("bad.txt");
    kt::write_file(path, "METEOR-M2 2\r\n");
    ASSERT_NE(open_file_read(0, path.c_str()), 0);
    posix_fail_from(FaultCall::read_file, 1);
    const int32_t mark = string_mark();
    EXPECT_STREQ(read_line(0, mark), "");
    EXPECT_EQ(file_at_end(0), 1);
    posix_fail_nth(FaultCall::read_file, 0);
    close_file(0);
}

// When the string buffer cannot grow, no line is handed out, neither at the
// start nor half-way (its rest would pass for the next line), and nothing
// is left reserved at the mark.
TEST_F(FileStreamTest, ALineThatFindsNoMemoryIsNotHandedOut) {
    const std::string path = dir.file("long.txt");
    // Long enough to outgrow the buffer the first reservation gives.
    kt::write_file(path, std::string(60000, 'x') + "\r\nMETEOR-M2 2\r\n");
    for (uint32_t k : {1u, 2u}) {
        SCOPED_TRACE(k);
        ASSERT_NE(open_file_read(0, path.c_str()), 0);
        const int32_t mark = string_mark();
        posix_fail_from(FaultCall::heap_alloc, k);
        EXPECT_EQ(read_line(0, mark), nullptr);
        posix_fail_nth(FaultCall::heap_alloc, 0);
        EXPECT_EQ(string_mark(), mark);
        close_file(0);
    }
}
#endif

} // namespace
