// The first fill of an empty shared folder from the local one, asked for by the
// configuration dialog. It writes to the shared folder as a copy back does, so it works
// as a period does: it takes the lock, looks at the shared folder again under it (another
// PC may have filled it meanwhile, and a folder that cannot be listed is not empty), keeps
// the rule before every write, and lets the lock go again whatever happens.
#include "app/Clogo.h"

#include "forms/Worker.h"
#include "settings/Persistentdata.h"
#include "shell/FileSystem.h"
#include "shell/transfer/Transfer.h"

#include <string>

namespace {

// The name the fill's lock token carries: the Windows user, so that other PCs see who.
std::string FillerName() {
    char name[257] = "";
    DWORD size = sizeof name;
    if (!GetUserNameA(name, &size) || !name[0]) return "Carvelund setup";
    return name;
}

constexpr char kNothingCopied[] = ": nothing was copied";

// The fill's own lock: taken, renewed while the copy runs, and always let go.
class FillLock {
public:
    FillLock(const char* folder, const TokenTake& take) {
        lock_.folder = folder;
        lock_.token = take.identity;
        lock_.takenAt = GetTickCount64();
        lock_.renewer = &renewer_;
        renewer_.Start(folder, lock_.token, LifeSignTimes().intervalMs);
    }
    ~FillLock() {
        renewer_.Stop();
        const char* folder = lock_.folder;
        const TokenIdentity token = lock_.token;
        RunOnWorker([folder, token] { return DeleteOwnToken(folder, token); });
    }
    FillLock(const FillLock&) = delete;
    FillLock& operator=(const FillLock&) = delete;

    HeldLock& Held() { return lock_; }

private:
    HeldLock lock_;
    LifeSignRenewer renewer_;
};

}  // namespace

bool TLogo::FillSharedFolder(std::string& problem) {
    const char* lockFolder = GetRemoteLockFolder();
    const std::string local = GetLocalDataFolder(), shared = GetRemoteSharedDataFolder();
    const std::string filler = FillerName();
    const TokenTake take = RunOnWorker([&] { return TryTakeTokenLock(lockFolder, filler.c_str()); });
    if (take.result != TakeResult::Taken) {
        ShownToken holder;
        if (take.result == TakeResult::InTheWay && RunOnWorker([&] { return FirstShownToken(lockFolder, holder); })) {
            HolderLifeSign(holder, lockFolder);
            const LifeSignFacts facts = HolderWatch.Facts();
            problem = "Locked by " + holder.owner + (facts.pc.empty() ? " (PC unknown)" : " on PC " + facts.pc) +
                      kNothingCopied;
        } else {
            problem = DescribeTakeProblem(take, lockFolder, filler).text;
        }
        return false;
    }
    FillLock lock(lockFolder, take);
    // Judged again under the lock: the look before the question may be out of date.
    switch (RunOnWorker([&] { return LookInFolder(Widen(shared)); })) {
        case FolderContent::Empty: break;
        case FolderContent::NotEmpty:
            problem = "The shared folder is not empty any more" + std::string(kNothingCopied);
            return false;
        case FolderContent::Unreadable:
            problem = "The shared folder cannot be read" + std::string(kNothingCopied);
            return false;
    }
    if (RunOnWorker([&] { return LookAtHeldLock(lock.Held()); }).verdict != LockVerdict::Ours) {
        problem = "The lock was lost" + std::string(kNothingCopied);
        return false;
    }
    TransferOptions options;
    HeldLock& held = lock.Held();
    options.beforeSwitch = [&held](uint64_t) { return HeldLockStillOurs(held); };
    // The first tree of the share is the first period of its history.
    HistoryAuthor author = HistoryAuthorOfThisPeriod();
    author.user = filler;
    options.history = &author;
    const TransferResult copied = RunOnWorker([&] { return TransferTree(local, shared, nullptr, options); });
    ShowMessages(nullptr, copied.messages);
    if (copied.stoppedBeforeSwitch) problem = "The lock was lost during the copy" + std::string(kNothingCopied);
    else if (!copied.ok) problem = "Error copying local data to Remote Shared Data Folder";
    return copied.ok;
}
