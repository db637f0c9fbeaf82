#include "shell/Wintools.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A made text holds its characters, a NUL, and one more NUL.
void ExpectMade(const char* made, const char* expected) {
    ASSERT_NE(made, nullptr);
    EXPECT_STREQ(made, expected);
    EXPECT_EQ(made[std::strlen(expected) + 1], '\0');
}

TEST(ConcatText, JoinsPartsAndEndsInTwoNuls) {
    struct Case {
        const char* a;
        const char* b;
        const char* c;
        const char* d;
        const char* expected;
    } cases[] = {
        {"a", nullptr, nullptr, nullptr, "a"},
        {"C:\\x", "\\", "*.*", nullptr, "C:\\x\\*.*"},
        {"1", "2", "3", "4", "1234"},
        {nullptr, "b", nullptr, "d", "bd"},
        {nullptr, nullptr, nullptr, nullptr, ""},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        OwnedText made(ConcatText(c.a, c.b, c.c, c.d));
        ExpectMade(made.Get(), c.expected);
    }
}

TEST(ReplaceText, MayUseTheOldTextAsAPart) {
    char* t = ConcatText("C:\\Data");
    t = ReplaceText(t, t, "\\*.*");
    ExpectMade(t, "C:\\Data\\*.*");
    t = ReplaceText(t, "x", nullptr, t, "y");
    ExpectMade(t, "xC:\\Data\\*.*y");
    t = ReplaceText(t, nullptr);
    ExpectMade(t, "");
    EXPECT_EQ(FreeText(t), nullptr);
}

TEST(FreeText, OfNothingDoesNothing) { EXPECT_EQ(FreeText(nullptr), nullptr); }

TEST(BaseTitle, TakesTheFirstDotPartOfTheLastComponentCapitalised) {
    struct Case {
        const char* path;
        const char* title;
    } cases[] = {
        {"C:\\Tools\\CARVELUND.EXE", "Carvelund"},
        {"c:\\Palm\\PALM.exe", "Palm"},
        {"C:\\A\\my.tool.exe", "My"},
        {"C:\\A\\", ""},
        {"C:\\Apps\\.exe", ""},
        {"C:/Apps/office.exe", "Office"},
        {"C:\\Apps/mixed\\sep/ZED", "Zed"},
        {"noseparator", "Noseparator"},
        {"", ""},
        {nullptr, ""},
        {"C:\\A.B\\Prog", "Prog"},
        {"C:\\x\\\xC9T\xC9.exe", "\xC9t\xC9"},  // 8-bit letters are left alone
        {"C:\\x\\1abc", "1abc"},
    };
    for (const auto& c : cases) {
        OwnedText t(BaseTitle(c.path));
        ExpectMade(t.Get(), c.title);
    }
}

TEST(FolderOf, CutsBeforeTheLastSeparator) {
    struct Case {
        const char* path;
        const char* folder;
    } cases[] = {
        {"C:\\Tools\\Carvelund.exe", "C:\\Tools"},
        {"C:\\x.exe", "C:"},
        {"x.exe", ""},
        {"C:/Tools/x.exe", "C:/Tools"},
        {"\\\\server\\share\\x", "\\\\server\\share"},
        {"C:\\A\\", "C:\\A"},
        {nullptr, ""},
    };
    for (const auto& c : cases) {
        OwnedText t(FolderOf(c.path));
        ExpectMade(t.Get(), c.folder);
    }
}

TEST(BaseTitlePath, IsFolderBackslashTitle) {
    struct Case {
        const char* path;
        const char* titlePath;
    } cases[] = {
        {"C:\\Tools\\CARVELUND.EXE", "C:\\Tools\\Carvelund"},
        {"C:\\Apps\\CARVELUND.EXE", "C:\\Apps\\Carvelund"},
        {"D:\\tools\\my.tool.exe", "D:\\tools\\My"},
        {"C:\\Apps\\.exe", "C:\\Apps\\"},
        {"prog.exe", "\\Prog"},
        {"D:/tools/office.exe", "D:/tools\\Office"},
    };
    for (const auto& c : cases) {
        OwnedText t(BaseTitlePath(c.path));
        ExpectMade(t.Get(), c.titlePath);
    }
}

}  // namespace
