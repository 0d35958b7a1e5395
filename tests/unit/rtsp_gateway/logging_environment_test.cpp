// The logging environment's line rule: pieces, line breaks, blanks, null texts and numbers.
#include "gateway/LoggingUsageEnvironment.h"
#include "rtsp_gateway/line_catcher.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class LoggingEnvironmentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        scheduler.reset(BasicTaskScheduler::createNew());
        env = new LineCatcher(*scheduler);
    }
    void TearDown() override { EXPECT_TRUE(env->reclaim()); }

    std::unique_ptr<BasicTaskScheduler> scheduler;
    LineCatcher* env = nullptr;
};

TEST_F(LoggingEnvironmentTest, PiecesUpToALineFeedMakeOneLine)
{
    char url[] = "rtsp://10.77.0.1:8554/by-name/Studio%20A";
    *env << "Play this stream using the URL \"" << url << "\"\n";
    ASSERT_EQ(1u, env->lines.size());
    EXPECT_EQ(L"Play this stream using the URL \"rtsp://10.77.0.1:8554/by-name/Studio%20A\"", env->lines[0]);

    // A line feed alone completes what came before it; the next line starts empty.
    *env << "accept()ed connection from "
         << "10.77.0.2";
    EXPECT_EQ(1u, env->lines.size());
    *env << "\n";
    *env << "second\n";
    ASSERT_EQ(3u, env->lines.size());
    EXPECT_EQ(L"accept()ed connection from 10.77.0.2", env->lines[1]);
    EXPECT_EQ(L"second", env->lines[2]);
}

TEST_F(LoggingEnvironmentTest, LineBreaksInsideAPieceBecomeBlanksAndBlankLinesAreDropped)
{
    // A received request is written as one piece: one line, CR and LF each replaced by a blank,
    // white space trimmed at both ends.
    *env << "RTSPClientSession[0012FF00]::handleRequestBytes() read 52 new bytes:"
         << "DESCRIBE rtsp://10.77.0.1/by-name/A RTSP/1.0\r\nCSeq: 2\r\nAccept: application/sdp\r\n\r\n"
         << "\n";
    ASSERT_EQ(1u, env->lines.size());
    EXPECT_EQ(L"RTSPClientSession[0012FF00]::handleRequestBytes() read 52 new bytes:DESCRIBE "
              L"rtsp://10.77.0.1/by-name/A RTSP/1.0  CSeq: 2  Accept: application/sdp",
              env->lines[0]);

    // A line feed that is not the last character does not complete the line.
    *env << "  first\npart\r"
         << "";
    EXPECT_EQ(1u, env->lines.size());
    *env << "end \n";
    ASSERT_EQ(2u, env->lines.size());
    EXPECT_EQ(L"first part end", env->lines[1]);

    // Blank lines are dropped, a null text is written as "(NULL)", bytes are read in code page 1252.
    *env << "\n";
    *env << "   \t"
         << "\r\n";
    *env << static_cast<char const*>(nullptr) << "\n";
    *env << "Caf\xE9 \x80\n";
    ASSERT_EQ(4u, env->lines.size());
    EXPECT_EQ(L"(NULL)", env->lines[2]);
    EXPECT_EQ(L"Caf\x00E9 \x20AC", env->lines[3]);
}

TEST_F(LoggingEnvironmentTest, OtherControlCharactersOfARequestAreShownEscaped)
{
    // A client's TAB, ESC or DEL reaches the trace as written: one line, shown escaped (0x85 is a
    // character of code page 1252, not a control).
    *env << "RTSPClientSession[0012FF00]::handleRequestBytes() read 40 new bytes:"
         << "OPTIONS\t* RTSP/1.0\r\nCSeq:\x1b[2J 1\x7f\r\nX: \x01\x85\r\n\r\n"
         << "\n";
    ASSERT_EQ(1u, env->lines.size());
    EXPECT_EQ(L"RTSPClientSession[0012FF00]::handleRequestBytes() read 40 new bytes:OPTIONS\\t* RTSP/1.0  "
              L"CSeq:\\x1b[2J 1\\x7f  X: \\x01\x2026",
              env->lines[0]);
    EXPECT_EQ(env->lines[0].find_first_of(L"\t\r\n\x1b\x7f\x01"), std::wstring::npos);
}

TEST_F(LoggingEnvironmentTest, NumbersNeverCompleteALine)
{
    *env << "n=" << -42 << " u=" << 4000000000u << " d=" << 1.5 << " p=" << reinterpret_cast<void*>(0x12ab);
    *env << 10 << 10u;
    EXPECT_TRUE(env->lines.empty());
    *env << "\n";
    ASSERT_EQ(1u, env->lines.size());
    EXPECT_EQ(L"n=-42 u=4000000000 d=1.500000 p=000012AB1010", env->lines[0]);
}

} // namespace
