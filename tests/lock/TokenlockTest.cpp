// The lock token on real lock folders.
#include "lock/Tokenlock.h"

#include "shell/Handles.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"
#include "support/TokenRival.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string kSuffix = ".tokenlockforcarvelund";
const std::string kUnknownSince = "??/??/???? ??:??";
constexpr DWORD kShownAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// A made text as a string; null stays distinguishable from the empty text.
struct Made {
    bool present;
    std::string text;
};
Made Adopt(char* made) {
    OwnedText owned(made);
    return {static_cast<bool>(owned), owned.Str()};
}

std::string Owner(const std::string& folder) {
    const Made owner = Adopt(TokenLockOwner(folder.c_str()));
    return owner.present ? owner.text : "<none>";
}

std::string Since(const std::string& folder, const char* name) { return Adopt(TokenLockSince(folder.c_str(), name)).text; }

// The folder's entries as the file system names them, with "/" after folders.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const TreeEntry& e : ListTree(folder)) names.push_back(e.relative + (e.folder ? "/" : ""));
    return names;
}

std::string TokenOf(const TempDir& dir, const std::string& name) { return dir / (name + kSuffix); }

void SetLastWrite(const std::string& path, const SYSTEMTIME& local, const SYSTEMTIME& createdLocal) {
    auto toFileTime = [](const SYSTEMTIME& st) {
        FILETIME localTime{}, utc{};
        SystemTimeToFileTime(&st, &localTime);
        LocalFileTimeToFileTime(&localTime, &utc);
        return utc;
    };
    const FILETIME written = toFileTime(local), created = toFileTime(createdLocal);
    KernelHandle file(
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    ASSERT_TRUE(SetFileTime(file.Get(), &created, nullptr, &written));
}

TEST(Tokenlock, EmptyFolderIsTakenWithAOneByteArchiveOnlyToken) {
    TempDir locks;
    EXPECT_EQ(Owner(locks.Path()), "<none>");

    ASSERT_TRUE(TakeTokenLock(locks.Path().c_str(), "Ann"));

    EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"Ann" + kSuffix});
    EXPECT_EQ(ReadFile(TokenOf(locks, "Ann")), "1");
    EXPECT_EQ(Attributes(TokenOf(locks, "Ann")) & kShownAttributes, 0u);
    EXPECT_EQ(Owner(locks.Path()), "Ann");
    EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), "Ann"));

    // Held now: nobody takes it, the holder neither.
    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "Bob"));
    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"Ann" + kSuffix});

    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_TRUE(Entries(locks.Path()).empty());
    EXPECT_FALSE(OwnsTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_TRUE(TakeTokenLock(locks.Path().c_str(), "Bob"));
}

TEST(Tokenlock, OwnTokenLeftBehindBlocksUntilDeleted) {
    TempDir locks;
    WriteFile(TokenOf(locks, "Ann"), "1");

    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_EQ(Owner(locks.Path()), "Ann");

    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_TRUE(TakeTokenLock(locks.Path().c_str(), "Ann"));
}

TEST(Tokenlock, NameWithDotsLosesOnlyTheSuffix) {
    TempDir locks;
    ASSERT_TRUE(TakeTokenLock(locks.Path().c_str(), "J.Smith"));

    EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"J.Smith" + kSuffix});
    EXPECT_EQ(Owner(locks.Path()), "J.Smith");
    EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), "J.Smith"));
    EXPECT_FALSE(OwnsTokenLock(locks.Path().c_str(), "J"));
    EXPECT_NE(Since(locks.Path(), "J.Smith"), kUnknownSince);
    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "J.Smith"));
    EXPECT_TRUE(Entries(locks.Path()).empty());
}

TEST(Tokenlock, LetterCaseIsIgnoredAsByTheFileSystem) {
    TempDir locks;
    ASSERT_TRUE(TakeTokenLock(locks.Path().c_str(), "Ann"));

    EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), "ann"));
    EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), "ANN"));
    EXPECT_NE(Since(locks.Path(), "ann"), kUnknownSince);
    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "ann"));
    EXPECT_EQ(Owner(locks.Path()), "Ann");  // as it is written on disk

    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "aNN"));
    EXPECT_TRUE(Entries(locks.Path()).empty());
}

TEST(Tokenlock, TwoTokensEachCountAndTheFirstNamesTheOwner) {
    TempDir locks;
    WriteFile(TokenOf(locks, "Ann"), "1");
    WriteFile(TokenOf(locks, "Bob"), "1");

    const std::string first = Owner(locks.Path());
    EXPECT_TRUE(first == "Ann" || first == "Bob") << first;
    EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_TRUE(OwnsTokenLock(locks.Path().c_str(), "Bob"));
    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "Carl"));

    const std::string second = first == "Ann" ? "Bob" : "Ann";
    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), first.c_str()));
    EXPECT_EQ(Owner(locks.Path()), second);
    EXPECT_FALSE(OwnsTokenLock(locks.Path().c_str(), first.c_str()));
}

TEST(Tokenlock, HiddenSystemAndFolderTokensAreInvisibleButAFolderStillBlocksItsName) {
    TempDir locks;
    WriteFile(TokenOf(locks, "Ann"), "1");
    ASSERT_TRUE(SetFileAttributesA(TokenOf(locks, "Ann").c_str(), FILE_ATTRIBUTE_HIDDEN));
    WriteFile(TokenOf(locks, "Bob"), "1");
    ASSERT_TRUE(SetFileAttributesA(TokenOf(locks, "Bob").c_str(), FILE_ATTRIBUTE_SYSTEM));
    MakeFolder(TokenOf(locks, "Carl"));
    // Not tokens, though a short-name match of the pattern could offer them.
    WriteFile(locks / ("Eve" + kSuffix + "x"), "1");
    WriteFile(locks / ("Eve" + kSuffix + ".bak"), "1");
    const auto before = Entries(locks.Path());

    EXPECT_EQ(Owner(locks.Path()), "<none>");
    for (const char* name : {"Ann", "Bob", "Carl", "Eve"}) {
        EXPECT_FALSE(OwnsTokenLock(locks.Path().c_str(), name)) << name;
        EXPECT_EQ(Since(locks.Path(), name), kUnknownSince) << name;
    }
    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "Carl"));
    EXPECT_FALSE(TakeTokenLock(locks.Path().c_str(), "ann"));
    EXPECT_EQ(Entries(locks.Path()), before);

    // Nothing visible is in the way of another name.
    EXPECT_TRUE(TakeTokenLock(locks.Path().c_str(), "Dan"));
    EXPECT_EQ(Owner(locks.Path()), "Dan");
}

// The lookups skip hidden entries, and some file systems hide names that begin with a
// dot: a token nobody can see would lock nobody out, so it must not count as taken.
TEST(Tokenlock, ATakenTokenIsAlwaysVisibleToTheLookups) {
    TempDir locks;
    for (const char* name : {"", ".ann", "Bob"}) {
        SCOPED_TRACE(std::string("name '") + name + "'");
        const bool taken = TakeTokenLock(locks.Path().c_str(), name);
        EXPECT_EQ(taken, OwnsTokenLock(locks.Path().c_str(), name));
        if (taken) {
            EXPECT_EQ(Owner(locks.Path()), name);
            EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), name));
        }
        EXPECT_TRUE(Entries(locks.Path()).empty());
    }
}

TEST(Tokenlock, SinceIsTheLocalLastWriteTimeToTheMinute) {
    struct Case {
        SYSTEMTIME written;  // local time
        const char* since;
    };
    const Case cases[] = {
        {{2021, 1, 0, 9, 0, 5, 0, 0}, " 1/09/2021 0:05"},
        {{1999, 3, 0, 5, 9, 7, 58, 0}, " 3/05/1999 9:07"},
        {{1999, 11, 0, 14, 17, 30, 0, 0}, "11/14/1999 17:30"},
        {{2030, 12, 0, 31, 23, 59, 30, 0}, "12/31/2030 23:59"},
    };
    const SYSTEMTIME created = {2011, 6, 0, 22, 12, 34, 0, 0};
    TempDir locks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.since);
        ASSERT_TRUE(TakeTokenLock(locks.Path().c_str(), "Ann"));
        SetLastWrite(TokenOf(locks, "Ann"), c.written, created);
        EXPECT_EQ(Since(locks.Path(), "Ann"), c.since);
        ASSERT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Ann"));
    }
}

TEST(Tokenlock, SinceWithoutThatTokenIsThePlaceholder) {
    TempDir locks;
    WriteFile(TokenOf(locks, "Bob"), "1");
    EXPECT_EQ(Since(locks.Path(), "Ann"), kUnknownSince);
    EXPECT_EQ(Since(locks.Path(), nullptr), kUnknownSince);
    EXPECT_EQ(Since(locks.Path(), ""), kUnknownSince);
}

TEST(Tokenlock, DeleteClearsReadOnlyAndReportsWhatIsLeft) {
    TempDir locks;
    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Nobody"));

    ASSERT_TRUE(TakeTokenLock(locks.Path().c_str(), "Ann"));
    ASSERT_TRUE(SetFileAttributesA(TokenOf(locks, "Ann").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Ann"));
    EXPECT_FALSE(Exists(TokenOf(locks, "Ann")));

    // Held open without delete sharing, as another PC's program might: it survives.
    ASSERT_TRUE(TakeTokenLock(locks.Path().c_str(), "Bob"));
    KernelHandle held(
        CreateFileA(TokenOf(locks, "Bob").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(DeleteTokenLock(locks.Path().c_str(), "Bob"));
    EXPECT_TRUE(Exists(TokenOf(locks, "Bob")));
    held.Reset();
    EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Bob"));
}

TEST(Tokenlock, MissingFolderBehavesLikeAnEmptyOneButCannotBeTaken) {
    TempDir parent;
    const std::string missing = parent / "gone";
    EXPECT_FALSE(TakeTokenLock(missing.c_str(), "Ann"));
    EXPECT_EQ(Owner(missing), "<none>");
    EXPECT_EQ(Since(missing, "Ann"), kUnknownSince);
    EXPECT_FALSE(OwnsTokenLock(missing.c_str(), "Ann"));
    EXPECT_TRUE(DeleteTokenLock(missing.c_str(), "Ann"));
    EXPECT_TRUE(Entries(parent.Path()).empty());
}

// Without a folder the path would be the root of the current drive.
TEST(Tokenlock, NoFolderTextPlacesNoTokenAtTheDriveRoot) {
    const std::string probe = "CarvelundNoFolderProbe";
    const std::string atRoot = "\\" + probe + kSuffix;
    for (const char* folder : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_FALSE(TakeTokenLock(folder, probe.c_str()));
        EXPECT_FALSE(Exists(atRoot));
        DeleteFileA(atRoot.c_str());  // should a fault have put it there
        EXPECT_EQ(Adopt(TokenLockOwner(folder)).present, false);
        EXPECT_FALSE(OwnsTokenLock(folder, probe.c_str()));
        EXPECT_TRUE(DeleteTokenLock(folder, probe.c_str()));
    }
}

// Names that would leave the lock folder, match other tokens or name a device.
const char* const kInvalidNames[] = {
    "..\\x", "..\\..\\x", "../x", "a/b", "C:x", "Ann:stream", "*", "A?n", "\"Ann\"", "<Ann", "Ann>",
    "a|b", "tab\tname", "\x01", "line\nbreak", "NUL", "con", "Com1", "lpt9.x", "AUX ",
    // Superscript one, two and three count as port digits too (code page 1252).
    "COM\xB9", "lpt\xB2.x", "Com\xB3",
};

TEST(Tokenlock, InvalidNamesTouchNothingAnywhere) {
    ASSERT_EQ(GetACP(), 1252u) << "the superscript digits are these bytes in code page 1252";
    TempDir root;
    const std::string locks = root / "locks";
    MakeFolder(locks);
    for (const char* name : kInvalidNames) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(TakeTokenLock(locks.c_str(), name));
        EXPECT_EQ(Entries(root.Path()), std::vector<std::string>{"locks/"});
    }
}

TEST(Tokenlock, InvalidNamesNeitherFindNorDeleteOtherTokens) {
    TempDir root;
    const std::string locks = root / "locks";
    MakeFolder(locks);
    WriteFile(locks + "\\Ann" + kSuffix, "1");
    WriteFile(root / ("x" + kSuffix), "1");  // just outside the lock folder
    const auto before = Entries(root.Path());
    for (const char* name : kInvalidNames) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(OwnsTokenLock(locks.c_str(), name));
        EXPECT_EQ(Since(locks, name), kUnknownSince);
        // It cannot be shown that no such token is there: not reported as deleted.
        EXPECT_FALSE(DeleteTokenLock(locks.c_str(), name));
        EXPECT_EQ(Entries(root.Path()), before);
    }
    EXPECT_FALSE(DeleteTokenLock(locks.c_str(), "..\\locks\\Ann"));
    EXPECT_EQ(Entries(root.Path()), before);
}

// What the caller is told when the take fails: a holder in the way, or why the token
// could not be made. A refused create never comes back as a bare "file exists": whatever
// has the token's name is named.
TEST(Tokenlock, AFailedTakeSaysWhy) {
    TempDir root;
    const std::string locks = root / "locks";
    MakeFolder(locks);
    const std::string held = root / "held";
    MakeFolder(held);
    WriteFile(held + "\\Bob" + kSuffix, "1");
    MakeFolder(locks + "\\Carl" + kSuffix);  // invisible to the lookups, but in the way of the create
    WriteFile(locks + "\\Dora" + kSuffix, "1");
    SetFileAttributesA((locks + "\\Dora" + kSuffix).c_str(), FILE_ATTRIBUTE_HIDDEN);
    struct Case {
        std::string folder;
        const char* name;
        TakeResult result;
        std::vector<DWORD> errors;  // any of these
        std::string detail;
    } cases[] = {
        {held, "Ann", TakeResult::InTheWay, {0}, ""},
        {root / "gone", "Ann", TakeResult::FolderUnreadable, {ERROR_PATH_NOT_FOUND}, ""},
        {"", "Ann", TakeResult::CreateFailed, {ERROR_PATH_NOT_FOUND}, ""},
        {locks, "Carl", TakeResult::NameTaken, {ERROR_FILE_EXISTS, ERROR_ACCESS_DENIED}, locks + "\\Carl" + kSuffix},
        {locks, "Dora", TakeResult::NameTaken, {ERROR_FILE_EXISTS}, locks + "\\Dora" + kSuffix},
        {locks, "..\\evil", TakeResult::NameRefused, {0}, "user name holds a character not allowed in a file name"},
        {locks, "Ann\tLee", TakeResult::NameRefused, {0}, "user name holds a character not allowed in a file name"},
        {locks, "lpt\xB9", TakeResult::NameRefused, {0}, "user name is a device name"},
        {locks, "Ann", TakeResult::Taken, {0}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + " / " + c.name);
        const TokenTake take = TryTakeTokenLock(c.folder.c_str(), c.name);
        EXPECT_EQ(take.result, c.result);
        EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), take.error), c.errors.end()) << take.error;
        EXPECT_EQ(take.detail, c.detail);
    }
    EXPECT_EQ(Entries(held), std::vector<std::string>{"Bob" + kSuffix});
    EXPECT_EQ(Entries(locks), (std::vector<std::string>{"Ann" + kSuffix, "Carl" + kSuffix + "/", "Dora" + kSuffix}));
}

// A token of this very name that the listing does not show yet (a share's cache, another
// PC of the same user name): the create-new meets it, and it is a holder like any other.
TEST(Tokenlock, ATokenOfTheSameNameHiddenByAStaleListingIsAHolder) {
    TempDir locks;
    WriteFile(TokenOf(locks, "Ann"), "1");
    StaleListing cache({L"Ann" + Widen(kSuffix)});
    const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), "Ann");
    EXPECT_EQ(take.result, TakeResult::InTheWay);
    EXPECT_EQ(take.error, 0u);
    EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"Ann" + kSuffix});
}

// A lock folder that cannot be listed (a share that dropped, a folder another program
// holds without sharing) shows no token, but that is no proof of a free lock: the take
// makes nothing, the holder lookup and the check say "unreadable", never "none" or "lost".
TEST(Tokenlock, AFolderThatCannotBeListedIsNeverTakenForAnEmptyOne) {
    TempDir locks;
    const TokenIdentity own = [&] {
        const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), "Ann");
        EXPECT_EQ(take.result, TakeResult::Taken);
        return take.identity;
    }();
    ASSERT_TRUE(DeleteOwnToken(locks.Path().c_str(), own).result == TokenDelete::Deleted);
    {
        // A folder opened without sharing cannot be listed by anyone else.
        KernelHandle exclusive(CreateFileA(locks.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(exclusive);
        const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), "Bob");
        EXPECT_EQ(take.result, TakeResult::FolderUnreadable);
        EXPECT_NE(take.error, 0u);
        ShownToken holder;
        DWORD error = 0;
        EXPECT_EQ(FindHolder(locks.Path().c_str(), holder, &error), HolderLook::Unreadable);
        EXPECT_NE(error, 0u);
        const TokenConflict seen = OtherTokens(locks.Path().c_str(), own);
        EXPECT_FALSE(seen.readable);
        EXPECT_FALSE(seen.Clear());
    }
    EXPECT_TRUE(Entries(locks.Path()).empty());
    ShownToken none;
    EXPECT_EQ(FindHolder(locks.Path().c_str(), none), HolderLook::None);
}

// A rival's token that appears in the instant of our create and stays: ours goes again.
TEST(Tokenlock, ARivalThatStaysIsInTheWayOnceOurTokenIsGone) {
    TempDir locks;
    RivalAtTheCreate rival(TokenOf(locks, "Bob"));
    const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), "Ann");
    EXPECT_EQ(take.result, TakeResult::InTheWay);
    EXPECT_EQ(rival.Creates(), 1);
    EXPECT_EQ(Entries(locks.Path()), std::vector<std::string>{"Bob" + kSuffix});
    EXPECT_EQ(Owner(locks.Path()), "Bob");
}

// A stray token of ours would lock everyone out: the caller learns which one it is.
TEST(Tokenlock, BackingOffFromARivalReportsAnOwnTokenThatCannotBeDeleted) {
    TempDir locks;
    RivalAtTheCreate rival(TokenOf(locks, "Bob"));
    rival.AlsoHoldOurs();
    const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), "Ann");
    EXPECT_EQ(take.result, TakeResult::OwnTokenStuck);
    EXPECT_EQ(take.detail, locks.Path() + "\\Ann" + kSuffix);
    EXPECT_EQ(Entries(locks.Path()), (std::vector<std::string>{"Ann" + kSuffix, "Bob" + kSuffix}));
}

// ---- Tokens known by identity ------------------------------------------------

const std::wstring kSuffixW = L".tokenlockforcarvelund";

TokenIdentity Take(const TempDir& locks, const char* name) {
    const TokenTake take = TryTakeTokenLock(locks.Path().c_str(), name);
    EXPECT_EQ(take.result, TakeResult::Taken) << name;
    EXPECT_TRUE(take.identity.Known()) << name;
    return take.identity;
}

// A file that keeps being open elsewhere, without delete sharing, until the case ends.
struct HeldOpen {
    KernelHandle handle;
    void Hold(const std::string& path) {
        handle.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(handle);
    }
};

// The last PC to run Finish must not delete a token that another PC has made since,
// under the same user name or the same name in another letter case.
TEST(TokenIdentity, DeleteOwnTokenDeletesOnlyTheVeryFileThisTakeMade) {
    struct Case {
        const char* name;
        std::function<void(const TempDir&, HeldOpen&)> meanwhile;
        TokenDelete result;
        DWORD error;
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {"still ours", [](const TempDir&, HeldOpen&) {}, TokenDelete::Deleted, 0, {}},
        {"ours, made read-only",
         [](const TempDir& d, HeldOpen&) { SetFileAttributesA(TokenOf(d, "Ann").c_str(), FILE_ATTRIBUTE_READONLY); },
         TokenDelete::Deleted, 0, {}},
        {"deleted by another user", [](const TempDir& d, HeldOpen&) { DeleteTokenLock(d.Path().c_str(), "Ann"); },
         TokenDelete::Gone, ERROR_FILE_NOT_FOUND, {}},
        {"taken again by another PC of the same name",
         [](const TempDir& d, HeldOpen&) {
             ASSERT_TRUE(DeleteTokenLock(d.Path().c_str(), "Ann"));
             ASSERT_TRUE(TakeTokenLock(d.Path().c_str(), "Ann"));
         },
         TokenDelete::Replaced, 0, {"Ann" + kSuffix}},
        {"made by hand under the same name in the same instant",
         [](const TempDir& d, HeldOpen&) {
             ASSERT_TRUE(DeleteFileA(TokenOf(d, "Ann").c_str()));
             WriteFile(TokenOf(d, "Ann"), "1");
         },
         TokenDelete::Replaced, 0, {"Ann" + kSuffix}},
        {"taken by ann, another letter case",
         [](const TempDir& d, HeldOpen&) {
             ASSERT_TRUE(DeleteTokenLock(d.Path().c_str(), "Ann"));
             ASSERT_TRUE(TakeTokenLock(d.Path().c_str(), "ann"));
         },
         TokenDelete::Replaced, 0, {"ann" + kSuffix}},
        {"held open by another program", [](const TempDir& d, HeldOpen& h) { h.Hold(TokenOf(d, "Ann")); },
         TokenDelete::Failed, ERROR_SHARING_VIOLATION, {"Ann" + kSuffix}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir locks;
        const TokenIdentity own = Take(locks, "Ann");
        HeldOpen held;
        c.meanwhile(locks, held);
        const OwnTokenDelete deleted = DeleteOwnToken(locks.Path().c_str(), own);
        EXPECT_EQ(deleted.result, c.result);
        EXPECT_EQ(deleted.error, c.error);
        EXPECT_EQ(Entries(locks.Path()), c.left);
    }
}

// Delete Lock in a conflict dialog deletes the holder it showed, never one that came after.
TEST(TokenIdentity, DeleteShownTokenDeletesOnlyTheHolderThatWasShown) {
    struct Case {
        const char* name;
        std::function<void(const TempDir&, HeldOpen&)> meanwhile;
        TokenDelete result;
        std::string holder;  // shown now, when replaced
        std::vector<std::string> left;
    };
    const Case cases[] = {
        {"unchanged", [](const TempDir&, HeldOpen&) {}, TokenDelete::Deleted, "", {}},
        {"gone meanwhile", [](const TempDir& d, HeldOpen&) { ASSERT_TRUE(DeleteTokenLock(d.Path().c_str(), "Bob")); },
         TokenDelete::Gone, "", {}},
        {"another user took it",
         [](const TempDir& d, HeldOpen&) {
             ASSERT_TRUE(DeleteTokenLock(d.Path().c_str(), "Bob"));
             ASSERT_TRUE(TakeTokenLock(d.Path().c_str(), "Carl"));
         },
         TokenDelete::Replaced, "Carl", {"Carl" + kSuffix}},
        {"Bob's other PC took it again",
         [](const TempDir& d, HeldOpen&) {
             ASSERT_TRUE(DeleteTokenLock(d.Path().c_str(), "Bob"));
             ASSERT_TRUE(TakeTokenLock(d.Path().c_str(), "Bob"));
         },
         TokenDelete::Replaced, "Bob", {"Bob" + kSuffix}},
        {"bob took it, another letter case",
         [](const TempDir& d, HeldOpen&) {
             ASSERT_TRUE(DeleteTokenLock(d.Path().c_str(), "Bob"));
             ASSERT_TRUE(TakeTokenLock(d.Path().c_str(), "bob"));
         },
         TokenDelete::Replaced, "bob", {"bob" + kSuffix}},
        {"held open by another program", [](const TempDir& d, HeldOpen& h) { h.Hold(TokenOf(d, "Bob")); },
         TokenDelete::Failed, "", {"Bob" + kSuffix}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir locks;
        Take(locks, "Bob");
        ShownToken shown;
        ASSERT_TRUE(FirstShownToken(locks.Path().c_str(), shown));
        EXPECT_EQ(shown.owner, "Bob");
        EXPECT_EQ(shown.since, Since(locks.Path(), "Bob"));
        HeldOpen held;
        c.meanwhile(locks, held);
        const ShownTokenDelete deleted = DeleteShownToken(locks.Path().c_str(), shown);
        EXPECT_EQ(deleted.result, c.result);
        EXPECT_EQ(deleted.holder.owner, c.holder);
        if (c.result == TokenDelete::Replaced) EXPECT_EQ(deleted.holder.since, Since(locks.Path(), c.holder.c_str()));
        EXPECT_EQ(Entries(locks.Path()), c.left);
    }
}

TEST(TokenIdentity, OurTokenWithAnyOtherIsAConflict) {
    TempDir locks;
    const TokenIdentity own = Take(locks, "Ann");
    TokenConflict seen = OtherTokens(locks.Path().c_str(), own);
    EXPECT_TRUE(seen.Clear());

    WriteFile(TokenOf(locks, "Bob"), "1");
    seen = OtherTokens(locks.Path().c_str(), own);
    EXPECT_TRUE(seen.ownListed);
    EXPECT_EQ(seen.others, std::vector<std::string>{"Bob"});
    EXPECT_FALSE(seen.Clear());

    // Our name, but another PC's file: ours is gone, and that one is another holder.
    ASSERT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Bob"));
    ASSERT_TRUE(DeleteTokenLock(locks.Path().c_str(), "Ann"));
    WriteFile(TokenOf(locks, "ANN"), "1");
    seen = OtherTokens(locks.Path().c_str(), own);
    EXPECT_FALSE(seen.ownListed);
    EXPECT_EQ(seen.others, std::vector<std::string>{"ANN"});
}

// A share may list the folder from a cache up to ten seconds old: Bob's take sees no
// token although Ann holds the lock, and his create-new (another name) succeeds. At the
// check, a listing of any one moment never lets both of them through.
TEST(TokenIdentity, TakersThroughAStaleListingNeverBothPassTheCheck) {
    TempDir locks;
    const TokenIdentity ann = Take(locks, "Ann");
    TokenIdentity bob;
    {
        StaleListing bobsCache({L"Ann" + kSuffixW});
        bob = Take(locks, "Bob");
    }
    ASSERT_EQ(Entries(locks.Path()), (std::vector<std::string>{"Ann" + kSuffix, "Bob" + kSuffix}));

    struct Moment {
        const char* name;
        std::vector<std::wstring> notYetListed;
        bool annListed, bobListed;
        std::vector<std::string> annSees, bobSees;
    } moments[] = {
        {"before both tokens", {L"Ann" + kSuffixW, L"Bob" + kSuffixW}, false, false, {}, {}},
        {"after Ann's token", {L"Bob" + kSuffixW}, true, false, {}, {"Ann"}},
        {"after both tokens", {}, true, true, {"Bob"}, {"Ann"}},
    };
    for (const Moment& m : moments) {
        SCOPED_TRACE(m.name);
        StaleListing listing(m.notYetListed);
        const TokenConflict annCheck = OtherTokens(locks.Path().c_str(), ann);
        const TokenConflict bobCheck = OtherTokens(locks.Path().c_str(), bob);
        EXPECT_FALSE(annCheck.Clear() && bobCheck.Clear());
        EXPECT_EQ(annCheck.ownListed, m.annListed);
        EXPECT_EQ(bobCheck.ownListed, m.bobListed);
        EXPECT_EQ(annCheck.others, m.annSees);
        EXPECT_EQ(bobCheck.others, m.bobSees);
    }
}

// Names come from other PCs: one outside this PC's code page must still be seen as a
// holder, shown, and be deletable, or the start dialog would come back for ever.
TEST(TokenIdentity, ATokenNamedOutsideTheCodePageIsSeenShownAndDeleted) {
    ASSERT_EQ(GetACP(), 1252u) << "Greek is outside code page 1252";
    const std::string greek = "\xCE\x91\xCE\xBD\xCE\xBD\xCE\xB1";  // Αννα in UTF-8
    for (bool throughTheShownToken : {true, false}) {
        SCOPED_TRACE(throughTheShownToken ? "DeleteShownToken" : "DeleteTokenLock with the owner shown");
        TempDir locks;
        WriteFileUtf8(locks.Path(), greek + kSuffix, "1");

        const std::string owner = Owner(locks.Path());
        EXPECT_EQ(owner.size(), 4u) << owner;  // one character of the code page for each
        EXPECT_NE(Since(locks.Path(), owner.c_str()), kUnknownSince);
        EXPECT_EQ(TryTakeTokenLock(locks.Path().c_str(), "Bob").result, TakeResult::InTheWay);

        if (throughTheShownToken) {
            ShownToken shown;
            ASSERT_TRUE(FirstShownToken(locks.Path().c_str(), shown));
            EXPECT_EQ(shown.owner, owner);
            EXPECT_EQ(DeleteShownToken(locks.Path().c_str(), shown).result, TokenDelete::Deleted);
        } else {
            EXPECT_TRUE(DeleteTokenLock(locks.Path().c_str(), owner.c_str()));
        }
        EXPECT_TRUE(Entries(locks.Path()).empty());
        EXPECT_TRUE(TakeTokenLock(locks.Path().c_str(), "Bob"));
    }
}

}  // namespace
