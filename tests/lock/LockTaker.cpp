// One taker of a lock race: waits at the common start, tries the lock once and tells
// the result by its exit code (10 held, 11 not held) and the time the try took.
#include "Race.h"

#include "shell/Handles.h"
#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"
#include "shell/Wintools.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const std::string kSuffix = ".tokenlockforcarvelund";

bool AnyToken(const std::string& folder, const std::string& except) {
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA((folder + "\\*" + kSuffix).c_str(), &data));
    if (!search) return false;
    do {
        if (lstrcmpiA(data.cFileName, except.c_str()) != 0) return true;
    } while (FindNextFileA(search.Get(), &data));
    return false;
}

bool Create(const std::string& path) {
    KernelHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (!file) return false;
    DWORD written = 0;
    WriteFile(file.Get(), "1", 1, &written, nullptr);
    return true;
}

// As the program's Wait: the holder's token looked at by its exact path, the take tried
// once it went; a lost race means waiting on.
bool WaitForLock(const std::string& folder, const std::string& user, ULONGLONG giveUp, TokenIdentity& taken) {
    while (GetTickCount64() < giveUp) {
        ShownToken holder;
        const bool held = FirstShownToken(folder.c_str(), holder);
        const TokenPresence presence = held ? LookAtToken(folder.c_str(), holder.identity) : TokenPresence::Gone;
        if (presence != TokenPresence::Same) {
            const TokenTake take = presence == TokenPresence::Gone ? TryTakeFreedTokenLock(folder.c_str(), user.c_str())
                                                                   : TryTakeTokenLock(folder.c_str(), user.c_str());
            if (take.result == TakeResult::Taken) {
                taken = take.identity;
                return true;
            }
        }
        Sleep(20);
    }
    return false;
}

bool TryLock(race::Protocol protocol, const std::string& folder, const std::string& user, ULONGLONG giveUp,
             TokenIdentity& taken) {
    const std::string path = folder + "\\" + user + kSuffix;
    switch (protocol) {
        case race::Protocol::Take:
            return TakeTokenLock(folder.c_str(), user.c_str());
        case race::Protocol::CheckCreate:
            return !AnyToken(folder, "") && Create(path);
        case race::Protocol::BackOff:
            if (AnyToken(folder, "") || !Create(path)) return false;
            if (!AnyToken(folder, user + kSuffix)) return true;
            DeleteFileA(path.c_str());
            return false;
        case race::Protocol::Wait:
            return WaitForLock(folder, user, giveUp, taken);
    }
    return false;
}

}  // namespace

// Takers on one system meet at named kernel objects. Takers in Wine prefixes of their own
// (separate PCs: each with a server of its own) share no such objects, only files: each
// says it is ready with a file of its own, and all go when the go file appears.
bool MeetAtStart(const std::string& start, const std::string& user) {
    const std::string kFiles = "file:";
    if (start.compare(0, kFiles.size(), kFiles) == 0) {
        const std::string folder = start.substr(kFiles.size());
        if (FILE* ready = std::fopen((folder + "\\" + user + ".ready").c_str(), "w")) std::fclose(ready);
        const std::string go = folder + "\\go";
        const ULONGLONG giveUp = GetTickCount64() + 60000;
        while (GetFileAttributesA(go.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount64() > giveUp) return false;
            Sleep(1);
        }
        return true;
    }
    KernelHandle ready(OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (start + ".ready").c_str()));
    KernelHandle go(OpenEventA(SYNCHRONIZE, FALSE, (start + ".go").c_str()));
    if (!ready || !go) return false;
    ReleaseSemaphore(ready.Get(), 1, nullptr);
    return WaitForSingleObject(go.Get(), 60000) == WAIT_OBJECT_0;
}

int main(int argc, char** argv) {
    race::Protocol protocol;
    if (argc != 6 || !race::Parse(argv[4], protocol)) {
        std::fprintf(stderr, "usage: lock_taker <lock folder> <user> <start name | file:<folder>> <protocol> <result file>\n");
        return 2;
    }
    if (!MeetAtStart(argv[3], argv[2])) return 4;

    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    const ULONGLONG giveUp = GetTickCount64() + race::kWaitGiveUpMs;
    TokenIdentity taken;
    const bool held = TryLock(protocol, argv[1], argv[2], giveUp, taken);
    QueryPerformanceCounter(&after);
    // The winner works on with its life sign while the others wait on, and ends without
    // letting go: the folder must then show its token and life sign only.
    if (held && taken.Known()) {
        LifeSignRenewer renewer;
        renewer.Start(argv[1], taken, race::kRaceLifeSignMs);
        const ULONGLONG now = GetTickCount64();
        if (now < giveUp) Sleep(static_cast<DWORD>(giveUp - now) + 100);
    }

    if (FILE* result = std::fopen(argv[5], "w")) {
        std::fprintf(result, "%.3f\n", 1000.0 * (after.QuadPart - before.QuadPart) / frequency.QuadPart);
        std::fclose(result);
    }
    return held ? 10 : 11;
}
