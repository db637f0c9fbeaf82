#include "shell/Wintools.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char* const kUnknown = "*UnKnwon Error*";

// The codes that have a name, as inclusive runs.
std::vector<int32_t> CoveredCodes() {
    static const int32_t runs[][2] = {
        {-8, 34}, {36, 36}, {38, 39}, {50, 72}, {80, 80}, {82, 89}, {100, 114}, {117, 162},
        {164, 164}, {167, 167}, {170, 170}, {173, 174}, {180, 180}, {182, 183}, {186, 203},
        {205, 210}, {212, 212}, {214, 215}, {230, 234}, {240, 240}, {254, 255}, {259, 259},
        {266, 267}, {275, 278}, {282, 282}, {288, 288}, {298, 298}, {317, 317}, {487, 487},
        {534, 536}, {994, 999}, {1001, 1022}, {1051, 1078}, {1100, 1131}, {1200, 1221},
        {1300, 1338}, {1340, 1394}, {1400, 1449}, {1500, 1503}, {1700, 1728}, {1730, 1737},
        {1739, 1753}, {1755, 1757}, {1759, 1762}, {1764, 1816}, {1898, 1900}, {2138, 2138},
        {2202, 2202}, {2250, 2250}, {2401, 2401}, {2404, 2404}, {6118, 6118},
    };
    std::vector<int32_t> codes;
    for (const auto& run : runs)
        for (int32_t c = run[0]; c <= run[1]; ++c) codes.push_back(c);
    return codes;
}

TEST(SystemErrorName, NamesEveryCoveredCodeWithADistinctText) {
    const auto codes = CoveredCodes();
    ASSERT_EQ(codes.size(), 576u);
    std::set<std::string> texts;
    size_t longest = 0;
    for (int32_t code : codes) {
        const char* text = SystemErrorName(code);
        ASSERT_NE(text, nullptr) << code;
        EXPECT_STRNE(text, kUnknown) << code;
        EXPECT_EQ(std::strchr(text, '_'), nullptr) << code << " " << text;
        texts.insert(text);
        longest = std::max(longest, std::strlen(text));
    }
    EXPECT_EQ(texts.size(), codes.size()) << "two codes share a text";
    EXPECT_EQ(longest, 39u);
}

TEST(SystemErrorName, PrefixCountsMatchTheHeaderFamilies) {
    std::map<std::string, int> counts;
    const char* prefixes[] = {"ERROR ", "RPC S ", "RPC X ", "EPT S ", "LZERROR "};
    for (int32_t code : CoveredCodes()) {
        const std::string text = SystemErrorName(code);
        std::string family = "other";
        for (const char* p : prefixes)
            if (text.rfind(p, 0) == 0) family = p;
        ++counts[family];
    }
    EXPECT_EQ(counts["ERROR "], 483);
    EXPECT_EQ(counts["RPC S "], 68);
    EXPECT_EQ(counts["RPC X "], 12);
    EXPECT_EQ(counts["EPT S "], 4);
    EXPECT_EQ(counts["LZERROR "], 8);
    EXPECT_EQ(counts["other"], 1);  // code 0
}

TEST(SystemErrorName, GivesTheDeclaredNames) {
    const struct {
        int32_t code;
        const char* text;
    } cases[] = {
        {0, "NO ERROR / ERROR SUCCESS"},
        {2, "ERROR FILE NOT FOUND"},
        {3, "ERROR PATH NOT FOUND"},
        {5, "ERROR ACCESS DENIED"},
        {32, "ERROR SHARING VIOLATION"},
        {53, "ERROR BAD NETPATH"},
        {67, "ERROR BAD NET NAME"},
        {80, "ERROR FILE EXISTS"},
        {112, "ERROR DISK FULL"},
        {183, "ERROR ALREADY EXISTS"},
        {194, "ERROR ITERATED DATA EXCEEDS 64k"},
        {199, "ERROR AUTODATASEG EXCEEDS 64k"},
        {201, "ERROR RELOC CHAIN XEEDS SEGLIM"},
        {206, "ERROR FILENAME EXCED RANGE"},
        {267, "ERROR DIRECTORY"},
        {1063, "ERROR FAILED SERVICE CONTROLLER CONNECT"},
        {1722, "RPC S SERVER UNAVAILABLE"},
        {1731, "RPC S SERVER OUT OF MEMORY"},
        {1753, "EPT S NOT REGISTERED"},
        {1776, "RPC X SS CONTEXT MISMATCH"},
        {1783, "RPC X BAD STUB DATA"},
        {2138, "ERROR NO NETWORK"},
        {6118, "ERROR NO BROWSER SERVERS FOUND"},
        {-1, "LZERROR BADINHANDLE"},
        {-2, "LZERROR BADOUTHANDLE"},
        {-3, "LZERROR READ"},
        {-4, "LZERROR WRITE"},
        {-5, "LZERROR GLOBALLOC"},
        {-6, "LZERROR GLOBLOCK"},
        {-7, "LZERROR BADVALUE"},
        {-8, "LZERROR UNKNOWNALG"},
    };
    for (const auto& c : cases) EXPECT_STREQ(SystemErrorName(c.code), c.text) << c.code;
}

TEST(SystemErrorName, GivesTheDefaultForEveryOtherCode) {
    std::vector<int32_t> codes = {-9, -100, INT_MIN, static_cast<int32_t>(0x80000000u),
                                  static_cast<int32_t>(0xFFFFFFF7u), 35, 37, 73, 81, 115, 116,
                                  1000, 1222, 1223, 1339, 1729, 1738, 1754, 1817, 6117, 6119,
                                  INT_MAX};
    for (int32_t c = 40; c <= 49; ++c) codes.push_back(c);
    for (int32_t code : codes) EXPECT_STREQ(SystemErrorName(code), kUnknown) << code;

    // Every code between the covered ones, up to past the highest.
    const auto covered = CoveredCodes();
    const std::set<int32_t> named(covered.begin(), covered.end());
    int gaps = 0;
    for (int32_t code = -20; code <= 6200; ++code) {
        if (named.count(code)) continue;
        ++gaps;
        ASSERT_STREQ(SystemErrorName(code), kUnknown) << code;
    }
    EXPECT_EQ(gaps, 6221 - 576);
}

}  // namespace
