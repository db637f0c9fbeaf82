#include "shell/TreeListing.h"
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

TEST(Widen, AndNarrowCarryTheCodePagesText) {
    EXPECT_EQ(Widen(""), L"");
    EXPECT_EQ(Widen("C:\\Data\\a.txt"), L"C:\\Data\\a.txt");
    EXPECT_EQ(Narrow(L"C:\\Data\\a.txt"), "C:\\Data\\a.txt");
    EXPECT_EQ(Narrow(Widen("Caf\xE9 \xDC")), "Caf\xE9 \xDC");
}

TEST(FullPathOf, ResolvesAgainstTheCurrentFolder) {
    char current[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, current), 0u);
    std::string expected = current;
    if (expected.back() != '\\') expected += '\\';
    EXPECT_EQ(FullPathOf("Data.saved"), expected + "Data.saved");
    EXPECT_EQ(FullPathOf("C:\\Work\\Data"), "C:\\Work\\Data");
    EXPECT_EQ(FullPathOf("C:\\Work\\Old\\..\\Data"), "C:\\Work\\Data");
}

// The form that the wide calls take at any length: "." and ".." are not resolved by the
// system in that form, so they must be here; relative paths cannot have it.
TEST(LongPathForm, PrefixesDrivesAndSharesAndLeavesTheRestAlone) {
    const struct {
        const wchar_t* path;
        const wchar_t* form;
    } cases[] = {
        {L"C:\\a\\b", L"\\\\?\\C:\\a\\b"},
        {L"c:/a/b/file.txt", L"\\\\?\\c:\\a\\b\\file.txt"},
        {L"C:\\", L"\\\\?\\C:\\"},
        {L"C:\\a\\", L"\\\\?\\C:\\a\\"},
        {L"C:\\a\\\\b\\.\\c", L"\\\\?\\C:\\a\\b\\c"},
        {L"C:\\a\\old\\..\\b", L"\\\\?\\C:\\a\\b"},
        {L"C:\\..\\a", L"\\\\?\\C:\\a"},
        {L"\\\\server\\share\\a\\b", L"\\\\?\\UNC\\server\\share\\a\\b"},
        {L"//server/share/a", L"\\\\?\\UNC\\server\\share\\a"},
        {L"\\\\server\\share\\..\\a", L"\\\\?\\UNC\\server\\share\\a"},
        {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
        {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
        {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
        {L"Data.saved", L"Data.saved"},
        {L"..\\Data", L"..\\Data"},
        {L"C:Data", L"C:Data"},
        {L"\\Data", L"\\Data"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(LongPathForm(c.path), c.form) << Narrow(c.path);
}

// One formatter for the times the program shows: the record of unsaved work writes the
// month as it is, the lock dialogs in a column two wide.
TEST(LocalTimeText, ShowsTheLocalMinuteOfAUtcMoment) {
    const SYSTEMTIME utcTime{2021, 3, 5, 5, 8, 7, 31, 0};
    FILETIME utc, local;
    SystemTimeToFileTime(&utcTime, &utc);
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    SYSTEMTIME t;
    ASSERT_TRUE(FileTimeToSystemTime(&local, &t));
    ASSERT_EQ(t.wDay, 5);  // the zone of the tests is an hour or two east of UTC
    const std::string clock = std::to_string(t.wHour) + ":07";
    EXPECT_EQ(LocalTimeText(utc, MonthWidth::AsIs, "?"), "3/05/2021 " + clock);
    EXPECT_EQ(LocalTimeText(utc, MonthWidth::TwoColumns, "?"), " 3/05/2021 " + clock);

    const SYSTEMTIME december{2021, 12, 0, 24, 9, 30, 0, 0};
    SystemTimeToFileTime(&december, &utc);
    EXPECT_EQ(LocalTimeText(utc, MonthWidth::TwoColumns, "?").substr(0, 11), "12/24/2021 ");
    EXPECT_EQ(LocalTimeText(FILETIME{}, MonthWidth::AsIs, "an unknown time"), "an unknown time");
}

}  // namespace
