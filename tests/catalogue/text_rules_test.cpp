#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "NameOrder.h"
#include "Platform.h"
#include "StoreNames.h"
#include "TextEncoding.h"

using Names = std::vector<std::string>;

TEST(NameOrder, CaseInsensitiveWithNumericDigitRuns) {
    const Names sorted = {"a.bin",     "B.bin",     "v1_04.bin", "v1_07.bin", "V1_9.bin",
                          "v1_10.bin", "v2_01.bin", "v10.bin",   "Ą.bin",     "ż.bin"};
    Names shuffled = sorted;
    std::mt19937 random(7);
    for (int pass = 0; pass < 5; ++pass) {
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        std::sort(shuffled.begin(), shuffled.end(), NameBefore);
        EXPECT_EQ(shuffled, sorted);
    }
    // Leading zeros count by value; names equal up to case or zeros still get one order.
    EXPECT_FALSE(NameBefore("v1_10", "v1_010") == NameBefore("v1_010", "v1_10"));
    EXPECT_TRUE(NameBefore("x.bin", "X.bin") != NameBefore("X.bin", "x.bin"));
    EXPECT_TRUE(NameBefore("18446744073709551616999", "18446744073709551617000"));  // no overflow
    EXPECT_TRUE(NameBefore("v1", "v1a"));
}

TEST(NameOrder, SameNameIgnoringCase) {
    EXPECT_TRUE(SameNameIgnoringCase("105.BIN", "105.bin"));
    EXPECT_TRUE(SameNameIgnoringCase("ŻÓŁW.bin", "żółw.bin"));
    EXPECT_FALSE(SameNameIgnoringCase("105.bin", "1050.bin"));
    EXPECT_FALSE(SameNameIgnoringCase("v01.bin", "v1.bin"));  // numbers equal, names not
}

TEST(TextEncoding, Utf8OnlyWithMarkOrMultiByteSequence) {
    const std::string utf8 = "Karta ż:żółw 4";            // valid, multi-byte
    const std::string cp = "Karta \xBF:\xBF\xF3\xB3w 4";  // the same in CP1250
    EXPECT_TRUE(IsUtf8Text(utf8));
    EXPECT_EQ(TextFileAsCp1250(utf8), cp);
    EXPECT_EQ(TextFileAsUtf8(utf8), utf8);

    EXPECT_TRUE(IsUtf8Text("\xEF\xBB\xBFPelta:p 1"));  // mark, otherwise ASCII
    EXPECT_EQ(TextFileAsCp1250("\xEF\xBB\xBFPelta:p 1"), "Pelta:p 1");
    EXPECT_EQ(TextFileAsUtf8("\xEF\xBB\xBFopis \xC5\x82"), "opis ł");

    EXPECT_FALSE(IsUtf8Text(cp));  // CP1250 bytes forming no valid UTF-8
    EXPECT_EQ(TextFileAsCp1250(cp), cp);
    EXPECT_EQ(TextFileAsUtf8(cp), utf8);

    EXPECT_FALSE(IsUtf8Text("Pelta:p 1\r\n"));  // plain ASCII stays CP1250
    EXPECT_EQ(TextFileAsCp1250("Pelta:p 1\r\n"), "Pelta:p 1\r\n");

    // "ół" in CP1250 (F3 B3) is no UTF-8; neither are overlong forms or surrogates.
    EXPECT_FALSE(IsUtf8Text("\xF3\xB3"));
    EXPECT_FALSE(IsUtf8Text("a\xC0\xAF"));
    EXPECT_FALSE(IsUtf8Text("a\xED\xA0\x80"));
    EXPECT_FALSE(IsUtf8Text("ż\xC5"));  // cut at the end
}

// Names Windows cannot hold are refused there like the other bad names (the same log line);
// the other systems hold them.
TEST(StoreNames, NamesWindowsCannotHoldAreRefusedOnWindows) {
    const bool windows = platform::kPathSeparator == '\\';
    for (const std::string name : {"CON", "lpt1", "pelta.", "v1?", "a:b"}) {
        // A listed file is stored as name + ".bin": "pelta..bin" ends in no dot, Windows holds it.
        EXPECT_EQ(UsableStoreFile("store", name, "http://h/liveupdate/f/"),
                  !windows || name == "pelta.")
            << name;
        EXPECT_EQ(UsableStoreFolder("base", std::string("ok/") + name, "http://h/liveupdate/"),
                  !windows)
            << name;
    }
}
