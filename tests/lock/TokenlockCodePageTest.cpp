// The name rule under a double-byte ANSI code page (Shift-JIS, 932): ctest starts this
// program with LC_ALL=ja_JP.UTF-8, from which Wine takes its code page.
#include "lock/Tokenlock.h"

#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using namespace testsupport;

namespace {

const std::string kSuffix = ".tokenlockforcarvelund";

std::string Owner(const std::string& folder) {
    OwnedText owner(TokenLockOwner(folder.c_str()));
    return owner ? owner.Str() : "<none>";
}

TEST(TokenlockCodePage, RunsUnderShiftJis) { ASSERT_EQ(GetACP(), 932u); }

// 0x5C is the trail byte of U+8868 and of U+80FD: part of the character, not a backslash.
TEST(TokenlockCodePage, ADoubleByteNameWithATrailByteOf5CIsANameLikeAnyOther) {
    ASSERT_EQ(GetACP(), 932u);
    TempDir locks;
    for (const char* name : {"\x95\x5C\x8E\xA6", "\x94\x5C", "Ann \x83\x5C"}) {
        SCOPED_TRACE(name);
        const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), name);
        ASSERT_EQ(take.result, TakeResult::Taken) << take.error << " " << take.detail;
        EXPECT_TRUE(Exists(locks / (name + kSuffix)));
        EXPECT_EQ(Owner(locks.Path()), name);
        EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), name));
        EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), name));
        EXPECT_TRUE(ListTree(locks.Path()).empty());
    }
}

TEST(TokenlockCodePage, SeparatorsDevicesAndBrokenCharactersAreStillRefused) {
    ASSERT_EQ(GetACP(), 932u);
    TempDir root;
    const std::string locks = root / "locks";
    MakeFolder(locks);
    struct Case {
        const char* name;
        const char* rule;
    } cases[] = {
        {"..\\x", "user name holds a character not allowed in a file name"},
        {"\x95\x5C\\x", "user name holds a character not allowed in a file name"},  // a real one after it
        {"COM1", "user name is a device name"},
        {"Ann\x95", "user name is not valid text"},  // a lead byte without its trail byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TokenTake take = TryTakeTokenLock(locks.c_str(), c.name);
        EXPECT_EQ(take.result, TakeResult::NameRefused);
        EXPECT_EQ(take.detail, c.rule);
    }
    EXPECT_TRUE(ListTree(root.Path()).size() == 1u);
    // In this code page 0xB9 is a katakana letter, not a superscript one: no device.
    ASSERT_TRUE(TakeTokenLock(locks.c_str(), "COM\xB9"));
    EXPECT_TRUE(DeleteTokenLock(locks.c_str(), "COM\xB9"));
}

}  // namespace
