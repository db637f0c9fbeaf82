// An earlier version made again: the share's data or its save, whichever leads back to the
// period asked for, copied into a new folder beside the local data folder; then, newest
// first, each increment on the way undone in the copy, as its journal says: what the
// period added goes, what it took out comes back from its undo folder, folder attributes
// are put back. The copy must then have the fingerprint the period recorded. Nothing on
// the share is written.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

#include <cstdio>
#include <map>

namespace {

constexpr char kTitle[] = "Restore a Copy";

// A tree of the share and the increments that lead from it back to the period.
struct Way {
    std::string start;
    std::vector<const HistoryRecord*> increments;  // newest first
};

// Which tree of the share `tree` is: the period whose record has its fingerprint, the one
// its manifest names first (a tree copied back from a backup, or whose manifest a kill left
// beside the other tree, is still known by its content).
const HistoryRecord* TreeIs(const std::string& tree, const std::vector<HistoryRecord>& records,
                            const std::map<uint64_t, const HistoryRecord*>& byMade) {
    uint64_t fingerprint = 0;
    if (!FingerprintFolder(tree, fingerprint)) return nullptr;
    Manifest stamp;
    if (ReadManifestStamp(TransferNames(tree).manifest, stamp)) {
        const auto named = byMade.find(stamp.generation);
        if (named != byMade.end() && named->second->fingerprint == fingerprint) return named->second;
    }
    for (const auto& record : records)  // newest first
        if (record.kind == HistoryKind::Period && record.made && record.fingerprint == fingerprint) return &record;
    return nullptr;
}

bool WayFrom(const std::string& tree, const HistoryRecord& period, const std::vector<HistoryRecord>& records,
             const std::map<uint64_t, const HistoryRecord*>& byMade, Way& way) {
    const HistoryRecord* is = TreeIs(tree, records, byMade);
    if (!is) return false;
    way = Way{tree, {}};
    for (uint64_t generation = is->made; generation != period.made;) {
        const auto found = byMade.find(generation);
        if (found == byMade.end() || !found->second->incrementKept || !found->second->base) return false;
        way.increments.push_back(found->second);
        generation = found->second->base;
        if (way.increments.size() > byMade.size()) return false;  // a loop: a history that lies
    }
    return true;
}

std::string VersionName(const std::string& beside, const FILETIME& ended) {
    FILETIME local;
    SYSTEMTIME t{};
    FileTimeToLocalFileTime(&ended, &local);
    FileTimeToSystemTime(&local, &t);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, ".version-%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    const std::string base = beside + stamp;
    std::string name = base;
    for (int n = 2; PathExists(Widen(name)); ++n) name = base + "-" + std::to_string(n);
    // What a restore of this name that was cut short left is never whole: it goes.
    RemoveTreeDirect(Widen(name + ".incoming"));
    return name;
}

class Restorer {
public:
    Restorer(TransferProgress* progress, Messages& messages) : progress_(progress), messages_(messages) {}

    // `from` (a folder or a file) copied to `to`, with all it holds.
    bool CopyEntry(const std::wstring& from, const std::wstring& to, bool folder) {
        if (!folder) return CopyFile(from, to);
        std::vector<TreeEntry> entries;
        std::string problem;
        if (!ListTree(from, entries, problem, Links::Keep)) return Fail(messages_, kTitle, problem);
        if (!Made(to)) return false;
        for (const auto& entry : entries)
            if (entry.folder ? !Made(JoinPath(to, entry.relative))
                             : !CopyFile(JoinPath(from, entry.relative), JoinPath(to, entry.relative)))
                return false;
        SetFileAttributesW(LongPathForm(to).c_str(), GetFileAttributesW(LongPathForm(from).c_str()));
        return true;
    }

    // The increment undone in the copy at `copy`.
    bool Undo(const HistoryNames& history, const HistoryRecord& period, const std::wstring& copy) {
        const std::string entry = history.Entry(period.id);
        Journal journal;
        if (!ReadJournal(entry + "\\journal", journal))
            return Fail(messages_, kTitle, "The history of " + period.id + " cannot be read any more");
        for (auto it = journal.added.rbegin(); it != journal.added.rend(); ++it) {
            const std::wstring path = JoinPath(copy, it->relative);
            const FileOpResult removed = it->folder ? RemoveTreeDirect(path) : RemoveOneFile(path);
            if (!removed) return Failed("Cannot delete ", path, removed.error);
        }
        const std::wstring undo = Widen(entry + "\\undo");
        for (const auto& taken : journal.takenOut)
            if (!CopyEntry(JoinPath(undo, taken.relative), JoinPath(copy, taken.relative), taken.folder)) return false;
        for (const auto& [relative, before] : journal.attributes)
            SetFileAttributesW(LongPathForm(JoinPath(copy, relative)).c_str(), before ? before : FILE_ATTRIBUTE_NORMAL);
        return true;
    }

private:
    bool Failed(const char* what, const std::wstring& path, DWORD error) {
        return Fail(messages_, kTitle, what + Narrow(path) + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")");
    }

    bool Made(const std::wstring& folder) {
        const FileOpResult made = MakeFolder(folder);
        return made || made.error == ERROR_ALREADY_EXISTS || Failed("Cannot make the folder ", folder, made.error);
    }

    bool CopyFile(const std::wstring& from, const std::wstring& to) {
        if (progress_ && progress_->Cancelled()) return Fail(messages_, kTitle, kCopyWording.cancelledText);
        const FileOpResult copied = CopyOneFile(from, to, nullptr, nullptr);
        if (!copied) return Failed("Cannot copy ", from, copied.error);
        if (progress_) progress_->AddDone(1, 0);
        return true;
    }

    TransferProgress* progress_;
    Messages& messages_;
};

}  // namespace

RestoreResult RestoreVersion(const std::string& shared, const HistoryRecord& period, const std::string& beside,
                             TransferProgress* progress) {
    RestoreResult result;
    std::vector<HistoryRecord> records;
    std::string problem;
    if (!ReadHistory(shared, records, problem)) {
        Fail(result.messages, kTitle, problem);
        return result;
    }
    std::map<uint64_t, const HistoryRecord*> byMade;
    for (const auto& record : records)
        if (record.kind == HistoryKind::Period && record.made) byMade.emplace(record.made, &record);
    const TransferNames names(shared);
    Way way;
    if (period.kind != HistoryKind::Period || !period.made ||
        (!WayFrom(names.destination, period, records, byMade, way) && !WayFrom(names.save, period, records, byMade, way))) {
        Fail(result.messages, kTitle,
             "The shared data as " + period.user + " left it can no longer be made again from what the share holds: "
             "the history keeps the changes of the recent periods only, a period of an older copy of the program "
             "leaves none, and a tree changed by other means is not one the history knows.");
        return result;
    }
    const std::string name = VersionName(beside, period.ended);
    const std::wstring building = Widen(name + ".incoming");
    Restorer restorer(progress, result.messages);
    bool made = restorer.CopyEntry(Widen(way.start), building, true);
    for (const HistoryRecord* increment : way.increments)
        made = made && restorer.Undo(HistoryNames(shared), *increment, building);
    uint64_t fingerprint = 0;
    if (made && (!FingerprintFolder(Narrow(building), fingerprint) || fingerprint != period.fingerprint))
        made = Fail(result.messages, kTitle,
                    "The copy does not come out as " + period.user +
                        " left the shared data (another PC may have saved meanwhile): nothing was kept. Try again.");
    if (!NameWhenWhole(building, name, made, result.messages, kTitle, progress)) return result;
    result.ok = true;
    result.folder = name;
    return result;
}
