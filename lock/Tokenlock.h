// Tokenlock: the lock token file in the remote lock folder.
// Every operation looks at the folder afresh; nothing is cached and nothing is shown.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What tells one token file from another of the same name: a PC of the same user name,
// or one whose name differs only in letter case, makes a different file.
struct TokenIdentity {
    std::wstring fileName;  // as created or listed, suffix included; empty for none
    DWORD volumeSerial = 0;
    ULONGLONG fileIndex = 0;
    FILETIME lastWrite{};

    bool Known() const { return !fileName.empty(); }
    // The same file: the name may differ in letter case, the rest must be equal.
    bool SameFile(const TokenIdentity& other) const;
};

enum class TakeResult {
    Taken,
    InTheWay,       // a token stays in the folder: a real holder
    CreateFailed,   // the file system refused the token; `error` says why
    NameRefused,    // the user name cannot be a token's name; `detail` says which rule
    Unseen,         // the token was made, but the folder's lookups cannot see it
    Busy,           // other takers kept colliding for the whole time budget
    OwnTokenStuck,  // backing off, the own token could not be deleted; `detail` is its path
    FolderUnreadable,  // the lock folder cannot be listed; `error` says why; nothing is left in it
    NameTaken,      // a hidden or system file, or a folder, has the token's name; `detail` is its path
};

struct TokenTake {
    TakeResult result = TakeResult::Taken;
    DWORD error = 0;
    std::string detail;
    TokenIdentity identity;  // of the token this take made, when Taken
};

// Takes the lock, or says why not. Takers that collide back off and try again, with
// random pauses, for a few seconds. Nothing is shown to the user here.
TokenTake TryTakeTokenLock(const char* lockFolder, const char* userName);
// The same for a PC that waited and saw the holder's token go by its exact path: a share's
// listing may show that token for seconds yet, so the own token is created first (the
// create-new is authoritative) and only then the folder looked at.
TokenTake TryTakeFreedTokenLock(const char* lockFolder, const char* userName);
bool TakeTokenLock(const char* lockFolder, const char* userName);
// The owner of the first token found, as a made text (caller frees), or null. A name
// outside the code page comes as the code page allows ('?' for what it lacks).
char* TokenLockOwner(const char* lockFolder);
// The since text of that owner's token, or "??/??/???? ??:??", as a made text.
char* TokenLockSince(const char* lockFolder, const char* ownerName);
bool OwnsTokenLock(const char* lockFolder, const char* userName);
// Deletes whatever token has that name; prefer DeleteOwnToken and DeleteShownToken.
bool DeleteTokenLock(const char* lockFolder, const char* name);

// ---- Tokens known by identity ------------------------------------------------

// A holder as a dialog shows it.
struct ShownToken {
    std::string owner;  // as the code page allows
    std::string since;  // the since text
    TokenIdentity identity;
};

// What a listing of the lock folder shows about our token and the others. The listing
// may come from a cache older than our create: then our token is not in it, and the
// lock cannot be confirmed from it. A listing that failed shows nothing at all: a share
// that dropped is no proof that a token went.
struct TokenConflict {
    bool readable = true;             // the folder could be listed; else `error` says why
    DWORD error = 0;
    bool ownListed = false;           // our very token is in the listing
    std::vector<std::string> others;  // owners of every other token, in listing order
    ShownToken firstOther;            // the first of them, as a dialog shows it

    bool Clear() const { return readable && ownListed && others.empty(); }
};
TokenConflict OtherTokens(const char* lockFolder, const TokenIdentity& own);

enum class TokenDelete {
    Deleted,   // that very token is gone now
    Gone,      // it was not there any more, and no other token is
    Replaced,  // another token is there (`holder`); nothing was deleted
    Failed,    // it is still there; `error` says why
};

// Deletes our token only while the file there is still the one this process created.
// Its life sign goes after it: a life sign left without a token misleads nobody.
struct OwnTokenDelete {
    TokenDelete result = TokenDelete::Gone;
    DWORD error = 0;
};
OwnTokenDelete DeleteOwnToken(const char* lockFolder, const TokenIdentity& own);

// Whether a token is still there, looked up by its exact path rather than a listing.
enum class TokenPresence {
    Same,        // that very file
    Other,       // another file of that name
    Gone,
    Unreadable,  // it could not be looked at (a share that dropped): nothing is concluded
};
// `error`, when given, says why for Unreadable.
TokenPresence LookAtToken(const char* lockFolder, const TokenIdentity& token, DWORD* error = nullptr);

// The first token in the folder, or why there is none to show.
enum class HolderLook { Found, None, Unreadable };
HolderLook FindHolder(const char* lockFolder, ShownToken& shown, DWORD* error = nullptr);
// The same; false when the folder holds none or cannot be listed.
bool FirstShownToken(const char* lockFolder, ShownToken& shown);

// Deletes the holder's token only while it is still the one that was shown (the same
// name exactly, the same file written at the same time). When another token has taken
// its place, nothing is deleted and `holder` shows the new one.
struct ShownTokenDelete {
    TokenDelete result = TokenDelete::Gone;
    DWORD error = 0;
    ShownToken holder;  // when Replaced
};
ShownTokenDelete DeleteShownToken(const char* lockFolder, const ShownToken& shown);
