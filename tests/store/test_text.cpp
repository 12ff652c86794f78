#include "server/store/Text.h"

#include <gtest/gtest.h>
#include <random>

TEST(Explode, MinimumCountPadsWithEmptyPieces) {
    const TextList parts = Explode(",", "word", 11, 11);
    ASSERT_EQ(parts.size(), 11);
    EXPECT_EQ(parts[0], "word");
    for (int i = 1; i < 11; ++i) EXPECT_TRUE(parts[i].isEmpty());
}

TEST(Explode, LimitKeepsTheRestInTheLastPiece) {
    const TextList parts = Explode("=", "key=a=b", 2, 2);
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[1], "a=b");
    EXPECT_EQ(Explode(";", "", 0, 1).size(), 1);
    EXPECT_EQ(Explode(";", "a;b;", 0, 1), (TextList{"a", "b", ""}));
}

TEST(StrPad, CutsPadsAndCentres) {
    EXPECT_EQ(StrPad("abcdefg", 6), "abcdef");
    EXPECT_EQ(StrPad("ab", 5, "*", PadMode::Center), "*ab**");
    EXPECT_EQ(StrPad("7", 6, " ", PadMode::Left), "     7");
    EXPECT_EQ(StrPad("x", 3, "", PadMode::Right), "x  ");
    EXPECT_EQ(StrPad("x", 3, "-+", PadModeFromText(" pad_left ")), "--x");
    EXPECT_EQ(PadModeFromText("sideways"), PadMode::Right);
}

TEST(StrReplace, CountsRestartsAndStopsOnItsOwnOutput) {
    EXPECT_EQ(StrReplace("aaaa", "a", "b", 2), "bbaa");
    EXPECT_EQ(StrReplace("abab", "ab", "ab"), "abab");
    EXPECT_EQ(StrReplace("a..b", "..", ".", 0, true), "a.b");
    EXPECT_EQ(StrReplace("....", "..", ".", 0, true), ".");
    EXPECT_EQ(StrReplace("xAx", "a", "b"), "xAx");   // case-sensitive
    // A replacement holding the search text does not loop forever.
    EXPECT_EQ(StrReplace("a", "a", "aa", 0, true), "aa");
}

TEST(ConvertCrLf, TheLineEndTestAgreesWithALineByLineReadingAtEveryLengthAndOffset) {
    // The test reads many bytes at a time: line ends across block edges.
    const auto byHand = [](const Text& t) {
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (t[i] == '\r' && (i + 1 == t.size() || t[i + 1] != '\n')) return false;
            if (t[i] == '\n' && (i == 0 || t[i - 1] != '\r')) return false;
        }
        return true;
    };
    std::mt19937 random(7);
    const char alphabet[] = {'a', '\r', '\n', 'b'};
    for (int round = 0; round < 20000; ++round) {
        Text t;
        const int length = int(random() % 70);
        for (int i = 0; i < length; ++i) t += alphabet[random() % 4];
        if (round % 2 == 0) t = ConvertCrLf(t);   // half of them right, to reach the end
        ASSERT_EQ(LineEndsAreCrLf(t), byHand(t)) << t.toPercentEncoding().constData();
    }
}

TEST(ConvertCrLf, EveryLineEndBecomesCrLf) {
    EXPECT_EQ(ConvertCrLf("a\nb\rc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
    EXPECT_EQ(ConvertCrLf("\r\r\n\r"), "\r\n\r\n\r\n");
    EXPECT_EQ(ConvertCrLf("plain"), "plain");
    EXPECT_EQ(ConvertCrLf(""), "");
    for (const char* crLf : {"", "a\r\nb", "\r\n\r\n", "no line end"}) EXPECT_TRUE(LineEndsAreCrLf(crLf)) << crLf;
    for (const char* mixed : {"\n", "a\r", "\r\r\n", "a\n\r", "\r\n\n", "\ra\n"})
        EXPECT_FALSE(LineEndsAreCrLf(mixed)) << mixed;
    EXPECT_EQ(StripTrailingCrLf("a\r\n\r\n"), "a");
    EXPECT_EQ(StripTrailingCrLf("a\r\n\n"), "a\r\n\n");
    EXPECT_EQ(StripTrailingBackslash("C:\\DIR\\\\"), "C:\\DIR");
    EXPECT_EQ(GetFileBasename("C:\\A\\B.TXT "), "B.TXT");
}

TEST(CalcUptime, ShortAndLongForms) {
    EXPECT_EQ(CalcUptime(90061, true), "1d 1h 1m 1s");
    EXPECT_EQ(CalcUptime(90061, false), "1 days, 1 hours, 1 minutes, 1 seconds");
    EXPECT_EQ(CalcUptime(59, true), "0d 0h 0m 59s");
}

TEST(ValInteger, LeadingNumberClampedAndRoundedToEven) {
    EXPECT_EQ(ValInteger("25.6"), 26);
    EXPECT_EQ(ValInteger("2.5"), 2);
    EXPECT_EQ(ValInteger("3.5"), 4);
    EXPECT_EQ(ValInteger("abc"), 0);
    EXPECT_EQ(ValInteger(""), 0);
    EXPECT_EQ(ValInteger(" 1 2x"), 12);
    EXPECT_EQ(ValInteger("99999"), 32767);
    EXPECT_EQ(ValInteger("-99999"), -32767);
    EXPECT_EQ(ValInteger("1e3"), 1000);
    EXPECT_EQ(ValLong("1e99"), 2147483647);
    EXPECT_EQ(ValLong("-5"), -5);
}

TEST(Case, LatinOneLettersAndNumbers) {
    EXPECT_EQ(UCase("abc\xe9"), "ABC\xc9");
    EXPECT_EQ(LCase("ABC\xc9"), "abc\xe9");
    EXPECT_TRUE(SameText("Sysop", "SYSOP"));
    EXPECT_TRUE(IsNumeric(" 12 "));
    EXPECT_FALSE(IsNumeric("12a"));
    EXPECT_FALSE(IsNumeric("-"));
    EXPECT_EQ(ConvertBinToInt("1101"), 13);
    EXPECT_EQ(ConvertIntToBin(13), "1101");
    EXPECT_EQ(ConvertIntToBin(0), "0");
}

TEST(Explode, LimitOfOneAndBelow) {
    EXPECT_EQ(Explode(",", "a,b,c", 1), TextList{"a,b,c"});
    EXPECT_EQ(Explode(",", "a,b,c", -3), (TextList{"a", "b", "c"}));
    EXPECT_EQ(Explode(",", "a,b,c", 2, 0), (TextList{"a", "b,c"}));
    EXPECT_EQ(Explode("\r\n", "a\r\n\r\nb"), (TextList{"a", "", "b"}));
}

TEST(StrReplace, RestartFindsMatchesTheReplacementMakes) {
    EXPECT_EQ(StrReplace("aabb", "ab", "", 0, false), "ab");
    EXPECT_EQ(StrReplace("aabb", "ab", "", 0, true), "");
    EXPECT_EQ(StrReplace("aabb", "ab", "", 1, true), "ab");
    EXPECT_EQ(StrReplace("xaabby", "ab", "", 2, true), "xy");
    EXPECT_EQ(StrReplace("a", "a", "aa", 3, true), "aaaa");
    EXPECT_EQ(StrReplace("a b  c   d", "  ", " ", 0, true), "a b c d");
    EXPECT_EQ(StrReplace("no match", "zz", "z", 0, true), "no match");
    EXPECT_EQ(StrReplace("aaaa", "a", "b", -1), "bbbb");   // a negative count is no limit
}

TEST(StrReplace, RestartOnALongTextStaysLinear) {
    // Collapsing a megabyte of one letter replaces half a million times.
    EXPECT_EQ(StrReplace(Text(1 << 20, 'a'), "aa", "a", 0, true), "a");
    const Text spaced = Text(1 << 20, ' ') + "x";
    EXPECT_EQ(StrReplace(spaced, "  ", " ", 0, true), " x");
}

TEST(StripTrailingCrLf, ABlankTextGivesNothing) {
    EXPECT_EQ(StripTrailingCrLf("   "), "");
    EXPECT_EQ(StripTrailingCrLf(" \r\n"), "");
    EXPECT_EQ(StripTrailingCrLf("a \r\n"), "a ");
    EXPECT_EQ(StripTrailingCrLf("\r\n\r\r\n"), "");
}
