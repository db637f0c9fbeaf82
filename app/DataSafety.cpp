// The decisions that keep work safe: the repair of the shared folder under the lock,
// work an earlier period left unsaved, the check that the shared data is still what this
// period copied in, and the wait for the application's files to be closed.
#include "app/Clogo.h"

#include "app/DataQuestions.h"
#include "shell/SystemTexts.h"
#include "app/UnsavedWork.h"
#include "forms/Worker.h"
#include "shell/Trace.h"
#include "settings/Persistentdata.h"
#include "shell/transfer/Transfer.h"

namespace {

// The fingerprint of a tree, listed on a worker; false when it cannot be listed whole.
bool FingerprintOnWorker(const std::string& folder, uint64_t& fingerprint) {
    return RunOnWorker([&] { return FingerprintFolder(folder, fingerprint); });
}

}  // namespace

DWORD InUseWait::Now() const {
    const DWORD now = clock_();
    return now ? now : 1;  // 0 stands for "not yet"
}

InUseWait::Verdict InUseWait::Next(const FirstOpenFile& firstOpenFile, std::string& file) {
    const DWORD now = Now();
    if (endedAt_ == 0) endedAt_ = now;
    if (now - endedAt_ < handOverMs_) return Verdict::Wait;
    if (openSince_ && now - lastLook_ < kLookIntervalMs) return Verdict::Wait;
    lastLook_ = now;
    if (!firstOpenFile(file)) {
        openSince_ = 0;
        return Verdict::Free;
    }
    if (openSince_ == 0) openSince_ = now;
    return now - openSince_ < kPatienceMs ? Verdict::Wait : Verdict::AskUser;
}

Interruption TLogo::RepairSharedFolder() {
    const std::string shared = GetRemoteSharedDataFolder();
    // Without the lock another PC may be in the middle of its own switch.
    if (ReadOnlyFlag) return std::nullopt;
    if (!RunOnWorker([&] { return TransferInterrupted(shared); })) return std::nullopt;
    // The repair writes to the shared folder.
    if (Interruption refused = RequireLockForWrite("The shared data folder was left as it was.")) return refused;
    const RepairResult repair = RunOnWorker([&] { return RepairTransfer(shared); });
    ShowMessages(nullptr, repair.messages);
    if (repair.ok) return std::nullopt;
    return Fail(kCopyInFailed.title, kCopyInFailed.message);
}

bool TLogo::CopySharedIn() {
    const std::string shared = GetRemoteSharedDataFolder(), local = GetLocalDataFolder();
    // A save by another PC takes a moment to switch in: a few tries, a second apart, see
    // one tree whole. A copy that met the switch may also have failed: it is tried again.
    constexpr int kTries = 3;
    TransferResult result;
    for (int tried = 1; tried <= kTries; ++tried) {
        if (tried > 1) RunOnWorker([] { return SleepEx(1000, FALSE); });
        result = TransferWithProgress(shared, local);
        // Without the lock, the copy counts only when the share still holds the tree listed;
        // one that failed, only when the share did not change under it.
        const auto shareUnchanged = [&] {
            uint64_t after = 0;
            return result.ok ? RunOnWorker([&] { return LookAgain(shared, result.source); }) == SeenAgain::Same
                             : FingerprintOnWorker(shared, after) && after == result.sourceFingerprint;
        };
        if (!ReadOnlyFlag || result.cancelled || shareUnchanged()) {
            ShowMessages(nullptr, result.messages);
            if (result.ok) SharedAtCopyIn = result.source;
            return result.ok;
        }
    }
    ShowMessages(nullptr, result.messages);
    ShowErrorMessage(nullptr, "Copying",
                     ("The shared data changed while it was being copied (another PC saved): " + shared).c_str());
    return false;
}

Interruption TLogo::SettleUnsavedWork() {
    const char* local = GetLocalDataFolder();
    const std::string shared = GetRemoteSharedDataFolder();
    UnsavedWork work;
    if (!ReadUnsavedWork(local, work)) return std::nullopt;
    TakeOverLostLocks(work);
    uint64_t sharedNow = 0;
    const bool sharedReadable = FingerprintOnWorker(shared, sharedNow);
    if (sharedReadable && WorkReachedShare(work, sharedNow)) {
        ClearUnsavedWork(local);
        return std::nullopt;
    }
    const bool sharedChanged = !sharedReadable || sharedNow != work.sharedFingerprint;
    const std::string otherSaveAside = sharedChanged ? FreeAsideFolder(shared) : "";
    const UnsavedChoice choice =
        AskAboutUnsavedWork(Handle(), local, work, sharedChanged, !ReadOnlyFlag, otherSaveAside);
    if (Ending()) return GoTo(Finish);
    switch (choice) {
        case UnsavedChoice::CopyBack:
            if (Interruption notSent = CopyWorkBack(otherSaveAside)) return notSent;
            return std::nullopt;
        case UnsavedChoice::SetAside: {
            const SetAsideResult aside = RunOnWorker([&] { return SetTreeAside(local, FreeAsideFolder(local)); });
            ShowMessages(nullptr, aside.messages);
            if (!aside.ok)
                return Fail("Unsaved Local Data",
                            std::string("The unsaved work could not be set aside; nothing was changed in ") + local);
            ClearUnsavedWork(local);
            NoteHistoryEvent("Unsaved Local Data: work begun " +
                             LocalTimeText(work.began, MonthWidth::AsIs, "at an unknown time") + " on PC " +
                             ComputerName() + " that never reached the shared data was set aside on that PC in " +
                             aside.folder + ".");
            TellWorkSetAside(Handle(), aside.folder);
            if (Ending()) return GoTo(Finish);
            return std::nullopt;
        }
        case UnsavedChoice::Stop: break;
    }
    return GoTo(Finish);
}

Interruption TLogo::RecordUnsavedWork() {
    // Only a period that will copy back has work to lose.
    if (ReadOnlyFlag) return std::nullopt;
    UnsavedWork work;
    GetSystemTimeAsFileTime(&work.began);
    work.sharedFingerprint = SharedAtCopyIn.Fingerprint();
    // Lost locks of earlier periods that no write has taken to the history yet stay noted.
    work.lostLocks = CarriedLostLocks;
    if (WriteUnsavedWork(GetLocalDataFolder(), work)) return std::nullopt;
    const std::string detail = UnsavedWorkRecordPath(GetLocalDataFolder()) + " (" +
                               SystemErrorName(static_cast<int32_t>(GetLastError())) + ")";
    return Fail("Unsaved Local Data", "Cannot keep the record of unsaved work: " + detail);
}

bool TLogo::CopyBackAgreed(std::string& otherSaveAside) {
    const std::string shared = GetRemoteSharedDataFolder();
    // Judged on the share as its repair leaves it: an interrupted save of another PC is
    // finished or undone first.
    if (RepairSharedFolder()) return false;
    TraceStage("copy back: is the share as copied in");
    // Listed whole: a file written there by other means counts too. A share that cannot
    // be listed never passes as unchanged: another PC's save may be behind it.
    while (!(SharedAtCopyBack = RunOnWorker([&] { return SeeTree(shared); })).Known())
        if (!RetryUnreadableShare(Handle(), shared.c_str()) || Ending()) return false;
    if (SameAsSeen(SharedAtCopyBack, SharedAtCopyIn)) return true;
    otherSaveAside = FreeAsideFolder(shared);
    const bool overwrite = CopyBackOverChangedShare(Handle(), shared.c_str(), otherSaveAside);
    return overwrite && !Ending();
}

Interruption TLogo::CopyWorkBack(const std::string& otherSaveAside) {
    const std::string local = GetLocalDataFolder(), shared = GetRemoteSharedDataFolder();
    const std::string kept = "Nothing was copied to the shared data folder; your work stays in " + local +
                             " and is offered again at the next start.";
    // Until the work is on the share, the session must not end under it.
    const bool wasCopying = CopyingBack;
    CopyingBack = true;
    struct Done {
        bool& flag;
        bool was;
        ~Done() { flag = was; }
    } done{CopyingBack, wasCopying};
    if (Interruption refused = RequireLockForWrite(kept)) return refused;
    if (!otherSaveAside.empty()) {
        const SetAsideResult aside = RunOnWorker([&] { return SetTreeAside(shared, otherSaveAside); });
        ShowMessages(nullptr, aside.messages);
        if (!aside.ok) return Fail(kCopyBackFailed.title, kCopyBackFailed.message);
        NoteHistoryEvent("Shared Data Changed: the shared data another PC saved while " + std::string(UserName.Str()) +
                         " did not hold the lock was set aside in " + aside.folder + ", to be replaced by " +
                         UserName.Str() + "'s work.");
        WriteHistoryEvents();
    }
    TransferOptions options;
    // The share as this step's check listed it, while it is still that tree.
    if (SharedAtCopyBack.Known()) options.destinationSeen = &SharedAtCopyBack;
    const HistoryAuthor author = HistoryAuthorOfThisPeriod();
    options.history = &author;
    options.beforeSwitch = [&](uint64_t fingerprint) {
        // Another PC may have taken the lock while the tree was built: without it nothing
        // is switched in, and the work stays recorded as unsaved.
        if (!HeldLockStillOurs(OwnLock)) return false;
        UnsavedWork work;
        ReadUnsavedWork(local.c_str(), work);
        work.sentFingerprint = fingerprint;
        // Not kept: after a cut, the next start asks about work that is already there,
        // and copying it again changes nothing. The work itself must still go back.
        WriteUnsavedWork(local.c_str(), work);
        return true;
    };
    const TransferResult result = TransferWithProgress(local, shared, &options);
    if (result.stoppedBeforeSwitch) {
        const LockLook look = RunOnWorker([&] { return LookAtHeldLock(OwnLock); });
        TellLockLost(look, "during the copy back", kept);
        if (look.verdict == LockVerdict::Lost) NoteLostLock(look);
        return GoTo(Finish);
    }
    ShowMessages(nullptr, result.messages);
    if (!result.ok) return Fail(kCopyBackFailed.title, kCopyBackFailed.message);
    ClearUnsavedWork(local.c_str());
    return std::nullopt;
}

HistoryAuthor TLogo::HistoryAuthorOfThisPeriod() const {
    HistoryAuthor author;
    author.user = UserName.Str();
    author.pc = ComputerName();
    // The work began with the period that recorded it, which may be an earlier one.
    UnsavedWork work;
    if (ReadUnsavedWork(GetLocalDataFolder(), work) && (work.began.dwLowDateTime || work.began.dwHighDateTime))
        author.began = work.began;
    else GetSystemTimeAsFileTime(&author.began);
    const HistoryKeeping keeping = GetHistoryKeeping();
    author.retention = {keeping.periods, keeping.days, keeping.sizePercent};
    return author;
}

bool TLogo::WorkReachedShare(const UnsavedWork& work, uint64_t sharedNow) {
    if (work.sentFingerprint == 0 || sharedNow != work.sentFingerprint) return false;
    uint64_t localNow = 0;
    return FingerprintOnWorker(GetLocalDataFolder(), localNow) && localNow == work.sentFingerprint;
}

Interruption TLogo::WaitForDataClosed() {
    // A read-only period copies nothing back and need not wait.
    if (ReadOnlyFlag) return GoTo(CheckLock);
    const std::string local = GetLocalDataFolder();
    const auto firstOpenFile = [&](std::string& file) {
        return RunOnWorker([&] { return FirstFileInUse(local.c_str(), file); });
    };
    std::string file;
    TraceStage("open files check");
    switch (DataInUse.Next(firstOpenFile, file)) {
        case InUseWait::Verdict::Wait: return std::nullopt;
        case InUseWait::Verdict::Free: return GoTo(CheckLock);
        case InUseWait::Verdict::AskUser: break;
    }
    const bool retry = RetryWhenDataClosed(Handle(), file);
    if (Ending()) return std::nullopt;
    if (!retry) return GoTo(Finish);  // the work stays recorded as unsaved
    DataInUse.WaitAnew();
    return std::nullopt;
}
