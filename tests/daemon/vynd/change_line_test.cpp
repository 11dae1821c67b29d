// rsync's change lines and the escaping of names in them.
#include <gtest/gtest.h>

#include <signal.h>

#include <random>
#include <string>
#include <vector>

#include "daemon/vynd/rsync_output.h"
#include "platform/process.h"

using namespace vynd;

TEST(RsyncEscapes, DecodesOctalEscapesToBytes) {
    EXPECT_EQ(decode_rsync_escapes("new\\#012line"), "new\nline");
    EXPECT_EQ(decode_rsync_escapes("Caf\\#303\\#251.app/"), "Caf\xc3\xa9.app/");
    // A literal backslash before "#" and three digits is itself escaped.
    EXPECT_EQ(decode_rsync_escapes("back\\#134#123"), "back\\#123");
}

TEST(RsyncEscapes, LeavesTextThatIsNoEscapeAlone) {
    EXPECT_EQ(decode_rsync_escapes("a\\#12"), "a\\#12");
    EXPECT_EQ(decode_rsync_escapes("a\\#18x"), "a\\#18x");
    EXPECT_EQ(decode_rsync_escapes("a\\#400"), "a\\#400");  // beyond one byte
    EXPECT_EQ(decode_rsync_escapes("plain\\name"), "plain\\name");
    EXPECT_EQ(decode_rsync_escapes("tab\there"), "tab\there");
}

TEST(RsyncEscapes, EncodingRoundTripsAnyBytes) {
    std::mt19937 rng(7);
    const std::string alphabet = std::string("ab\\#0127\n\t\x01\xff\xc3\xa9", 14);
    for (int i = 0; i < 5000; ++i) {
        std::string name;
        int len = static_cast<int>(rng() % 12);
        for (int k = 0; k < len; ++k) name += alphabet[rng() % alphabet.size()];
        std::string printed = escape_name(name);
        EXPECT_EQ(printed.find('\n'), std::string::npos);
        EXPECT_EQ(decode_rsync_escapes(printed), name) << printed;
    }
}

TEST(RsyncEscapes, PrintableUtf8StaysAsItIs) {
    EXPECT_EQ(escape_name("Caf\xc3\xa9.app/\tx"), "Caf\xc3\xa9.app/\tx");
    EXPECT_EQ(escape_name("Caf\xe9.app"), "Caf\\#351.app");
    EXPECT_EQ(escape_name("update\xa0.deb"), "update\\#240.deb");
    EXPECT_EQ(escape_name("a\x7f\xc2\x85\xef\xbf\xbe"), "a\\#177\\#302\\#205\\#357\\#277\\#276");
    EXPECT_EQ(escape_name("back\\#123 \\#9"), "back\\#134#123 \\#9");
}

TEST(ChangeLine, ReadsTheElevenCharacterLayoutOfRsync3) {
    std::string root = "2009/10/22 14:03:53 .d          ./";
    EXPECT_EQ(itemize_width_of_root_line(root), 11);
    auto line =
        parse_change_line("2009/10/22 14:03:53 >f+++++++++ Foo.app/Contents/Info.plist", 11);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->update_type, '>');
    EXPECT_EQ(line->timestamp, "2009/10/22 14:03:53");
    EXPECT_EQ(line->name, "Foo.app/Contents/Info.plist");
    // Unchanged items print blanks in the attribute columns.
    line = parse_change_line("2009/10/22 14:03:53 .f           two  blanks", 11);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->name, " two  blanks");
}

TEST(ChangeLine, ReadsTheNineCharacterLayoutOfRsync26) {
    EXPECT_EQ(itemize_width_of_root_line("2009/10/22 14:03:53 .d        ./"), 9);
    auto line = parse_change_line("2009/10/22 14:03:53 >f+++++++ Foo.app/Contents/Info.plist", 9);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->name, "Foo.app/Contents/Info.plist");
}

TEST(ChangeLine, DecodesNamesAndRejectsLinesWithoutTheLayout) {
    auto line = parse_change_line("2009/10/22 14:03:53 >f+++++++++ a\\#012b", 11);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->name, "a\nb");
    EXPECT_EQ(line->printed_name, "a\\#012b");
    EXPECT_FALSE(parse_change_line("2009/10/22 14:03:53 >f+++++++++ ", 11));
    EXPECT_FALSE(parse_change_line("skipping non-regular file \"x\"", 11));
    EXPECT_FALSE(parse_change_line("", 11));
    // Whole names however long: no 1023-character limit.
    std::string long_name(5000, 'n');
    line = parse_change_line("2009/10/22 14:03:53 >f+++++++++ " + long_name, 11);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->name, long_name);
}

TEST(ChangeLine, UpdateTypeDotIsNotAnUpdate) {
    EXPECT_FALSE(reports_update("2009/10/22 14:03:53 .f          a", 11));
    EXPECT_TRUE(reports_update("2009/10/22 14:03:53 >f+++++++++ a", 11));
    EXPECT_TRUE(reports_update("2009/10/22 14:03:53 cd+++++++++ a/", 11));
    EXPECT_FALSE(reports_update("short message", 11));
}

// What rsync 3.5 prints here for each kind of item, and lines that only
// look like its lines: a server's message of the day, rsync's messages.
TEST(ChangeLine, OnlyTheExactShapeOfRsyncsLinesIsAChangeLine) {
    for (const char* line :
         {"2026/12/11 12:53:07 .d          ./", "2026/12/11 12:53:07 .d..t...... ./",
          "2026/12/11 12:53:07 cS+++++++++ fifo", "2026/12/11 12:53:07 cL+++++++++ l",
          "2026/12/11 12:53:07 >f.st...... a", "2026/12/11 12:53:07 .f....og.ax b",
          "2026/12/11 12:53:07 hf          c", "2026/12/11 12:53:07 <fcsTp??b.x d",
          "2026/12/11 12:53:07 *deleting   zz", "2026/12/11 12:53:07 .D          dev"})
        EXPECT_TRUE(parse_change_line(line, 11)) << line;
    EXPECT_TRUE(parse_change_line("2009/10/22 14:03:53 *deleting a", 9));
    EXPECT_EQ(itemize_width_of_root_line("2026/12/11 12:53:07 .d..t...... ./"), 11);
    for (const char* line :
         {"2026/12/11 10:00:00 Fatal: rsync lost, run it again",  // a forged line
          "2026/12/11 10:00:00 >f+++++++++",                      // no name
          "2026/12/11 10:00:00 >f+++++++++x name",                // field too long
          "2026/12/11 10:00:00 >f++++++++ name",                  // too short
          "2026/12/11 10:00:00 >x+++++++++ name",                 // no such file type
          "2026/12/11 10:00:00 !f+++++++++ name",                 // no such update type
          "2026/12/11 10:00:00 >fcstpoguaxz name",                // letters out of place
          "2026/12/11 10:00:00 >fxstpoguac name",
          "2026/12/11 10:00:00 *deletion   name",  // no such message
          "2026/13/11 10:00:00 >f+++++++++ name",  // no such time
          "2026/12/11  0:00:00 >f+++++++++ name", " 2026/12/11 10:00:00 >f+++++++++ name",
          "created directory /Applications", "skipping non-regular file \"dev\""}) {
        EXPECT_FALSE(parse_change_line(line, 11)) << line;
        EXPECT_FALSE(parse_change_line(line, 9)) << line;
    }
    EXPECT_EQ(parse_change_line("2026/12/11 10:00:00 >f+++++++++  ", 11)->name, " ");
    // A root line of the wrong shape sets no width.
    EXPECT_EQ(itemize_width_of_root_line("2026/12/11 10:00:00 Fatal: ./"), 0);
    EXPECT_EQ(itemize_width_of_root_line("2026/12/11 10:00:00 >f+++++++++ ./"), 0);
}

// Text before the transfer, even shaped like rsync's lines, names no item;
// the root line sets the width.
TEST(ChangeLine, NothingBeforeTheRootLineIsAChangeLine) {
    ChangeLineReader reader;
    EXPECT_FALSE(reader.read("2026/12/11 10:00:00 >f+++++++++ victim.txt"));
    EXPECT_FALSE(reader.read("created directory /Applications"));
    ASSERT_TRUE(reader.read("2026/12/11 12:53:07 .d          ./"));
    EXPECT_EQ(reader.read("2026/12/11 12:53:07 >f+++++++++ a")->name, "a");
    EXPECT_FALSE(reader.read("2026/12/11 12:53:07 >f+++++++ a"));
    ChangeLineReader rsync26;
    ASSERT_TRUE(rsync26.read("2009/10/22 14:03:53 .d        ./"));
    EXPECT_EQ(rsync26.read("2009/10/22 14:03:53 >f+++++++ b")->name, "b");
}

// What rsync 3.5 says of a path too long for the sender or the receiver.
TEST(ChangeLine, MessagesNameThePathsTooLongForThisComputer) {
    EXPECT_EQ(overlong_path_in("filename overflows max-path len by 146: Deep/ccc/f"), "Deep/ccc/f");
    EXPECT_EQ(overlong_path_in("skipping overly long name: a/b"), "a/b");
    EXPECT_EQ(overlong_path_in("rsync: [receiver] mkstemp \"/Applications/.n\\#303.XyZ\" failed: "
                               "File name too long (36)"),
              "/Applications/.n\\#303.XyZ");
    EXPECT_FALSE(
        overlong_path_in("rsync: [sender] change_dir \"/x\" failed: No such file or "
                         "directory (2)"));
    EXPECT_FALSE(overlong_path_in("filename overflows max-path len by 146"));
}

TEST(ChangeLine, TimestampIsLocalTime) {
    auto t = parse_rsync_timestamp("2009/10/22 14:03:53");
    ASSERT_TRUE(t);
    struct tm tm {};
    time_t tt = static_cast<time_t>(*t);
    localtime_r(&tt, &tm);
    EXPECT_EQ(tm.tm_year, 109);
    EXPECT_EQ(tm.tm_mon, 9);
    EXPECT_EQ(tm.tm_mday, 22);
    EXPECT_EQ(tm.tm_hour, 14);
    EXPECT_EQ(tm.tm_sec, 53);
    EXPECT_FALSE(parse_rsync_timestamp("2009-10-22 14:03:53"));
    EXPECT_FALSE(parse_rsync_timestamp("2009/13/22 14:03:53"));
    EXPECT_FALSE(parse_rsync_timestamp("2009/10/22 14:03"));
}

// A child that writes a line at a time is read in batches, and no line is
// lost, split or reordered on the way: not one longer than the pipe, not a
// last one without a line feed.
TEST(ChildLines, ArriveWholeAndInOrderInFewerBatchesThanLines) {
    std::vector<std::string> lines;
    int batches = 0;
    int status = run_process_lines(
        {"/bin/sh", "-c",
         "i=0; while [ $i -lt 3000 ]; do echo $i; i=$((i+1)); done; "
         "head -c 3145728 /dev/zero | tr '\\000' a; echo; printf end"},
        [&](std::string_view line) { lines.emplace_back(line); }, false, [&] { ++batches; });
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 3002u);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(lines[i], std::to_string(i));
    EXPECT_EQ(lines[3000], std::string(3145728, 'a'));
    EXPECT_EQ(lines[3001], "end");
    EXPECT_GT(batches, 0);
    EXPECT_LT(batches, 3000);
}

// A child that reads none of its input ends neither this process nor the
// caller's own handling of SIGPIPE, and leaves no signal pending.
TEST(ChildInput, AChildThatStopsReadingLeavesSigpipeAsItWas) {
    struct sigaction before {};
    sigaction(SIGPIPE, nullptr, &before);
    EXPECT_EQ(run_process_with_input({"/bin/true"}, std::string(1 << 20, 'x')), 0);
    struct sigaction after {};
    sigaction(SIGPIPE, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    sigset_t pending, mask;
    sigpending(&pending);
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
    EXPECT_FALSE(sigismember(&mask, SIGPIPE));
}
