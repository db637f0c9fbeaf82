// What the share's history records besides the copy backs: a lock deleted by someone, work
// set aside, a period ended by a lost lock. Only the lock holder writes there, and only
// once the rule before every write has passed; a PC that lost its lock keeps its note in
// the record of unsaved work until a later period of its own holds the lock.
#include "app/Clogo.h"

#include "forms/Worker.h"
#include "settings/Persistentdata.h"
#include "shell/transfer/Transfer.h"

#include <string>
#include <vector>

namespace {

std::string Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return LocalTimeText(now, MonthWidth::AsIs, "an unknown time");
}

HistoryRecord Event(const std::string& user, const std::string& text) {
    HistoryRecord event;
    event.kind = HistoryKind::Event;
    event.user = user;
    event.pc = ComputerName();
    event.text = text;
    return event;
}

// The events written, in order; those that could not be written come back.
std::vector<HistoryRecord> WriteEvents(const std::string& shared, const std::vector<HistoryRecord>& events) {
    std::vector<HistoryRecord> unwritten;
    for (const auto& event : events) {
        std::string problem;
        if (!RecordHistoryEvent(shared, event, problem)) unwritten.push_back(event);
    }
    return unwritten;
}

}  // namespace

void TLogo::NoteHistoryEvent(const std::string& text) { PendingEvents.push_back(Event(UserName.Str(), text)); }

void TLogo::NoteDeletedLock(const ShownToken& holder, const char* choice) {
    const std::string pc = HolderWatch.Facts().pc;
    NoteHistoryEvent("Lock deleted: " + std::string(UserName.Str()) + " deleted the lock of " + holder.owner + " (" +
                     (pc.empty() ? std::string("PC unknown") : "PC " + pc) + ", held since " + holder.since +
                     ") with \"" + choice + "\".");
}

void TLogo::NoteLostLock(const LockLook& look) {
    const char* local = GetLocalDataFolder();
    UnsavedWork work;
    // Without a record no work was kept: the period lost nothing to tell of.
    if (ReadOnlyFlag || !ReadUnsavedWork(local, work)) return;
    const std::string user = UserName.Str(), pc = ComputerName();
    const std::string holder = look.holderListed ? look.holder.owner + " held it then" : "no one held it then";
    work.lostLocks.push_back({user, "Lock lost: " + user + " on PC " + pc + " lost the lock on " + Now() + " (" + holder +
                                        ") before the work begun " +
                                        LocalTimeText(work.began, MonthWidth::AsIs, "at an unknown time") +
                                        " could be copied back; that work stayed on PC " + pc + "."});
    WriteUnsavedWork(local, work);
}

void TLogo::TakeOverLostLocks(const UnsavedWork& work) {
    // Without the lock this period cannot write them: they stay in the record.
    if (ReadOnlyFlag) return;
    CarriedLostLocks = work.lostLocks;
}

void TLogo::WriteHistoryEvents() {
    if (PendingEvents.empty() && CarriedLostLocks.empty()) return;
    const std::string shared = GetRemoteSharedDataFolder();
    std::vector<HistoryRecord> carried;
    for (const auto& note : CarriedLostLocks) carried.push_back(Event(note.user, note.text));
    const std::vector<HistoryRecord> pending = PendingEvents;
    const auto [carriedLeft, pendingLeft] = RunOnWorker([&] {
        return std::make_pair(WriteEvents(shared, carried), WriteEvents(shared, pending));
    });
    PendingEvents = pendingLeft;
    if (carriedLeft.size() == carried.size()) return;
    // Written: the record of unsaved work no longer carries them.
    CarriedLostLocks.clear();
    for (const auto& left : carriedLeft) CarriedLostLocks.push_back({left.user, left.text});
    const char* local = GetLocalDataFolder();
    UnsavedWork work;
    if (!ReadUnsavedWork(local, work) || work.lostLocks.empty()) return;
    work.lostLocks = CarriedLostLocks;
    WriteUnsavedWork(local, work);
}

void TLogo::WriteHistoryEventsAtTheEnd() {
    if ((PendingEvents.empty() && CarriedLostLocks.empty()) || !OwnLock.token.Known() || Ending()) return;
    if (RunOnWorker([&] { return LookAtHeldLock(OwnLock); }).verdict == LockVerdict::Ours) WriteHistoryEvents();
}
