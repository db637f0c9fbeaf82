// The journal of the next tree and the undo it allows. Before its first change to the
// save it works on, a transfer writes down what it will add and which attributes it
// will change; what it takes out goes into the undo folder under the same relative
// names. Putting the save back is then the reverse, in an order that may be cut short
// at any point and done again: the added entries go, the taken-out ones come back, the
// attributes are put back, and the tree takes the save's name again.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kFirstLine[] = "Carvelund journal 1";

std::string Line(const char* kind, const Plan::Entry& entry) {
    return std::string(kind) + (entry.folder ? " d " : " f ") + Utf8(entry.relative) + "\n";
}

}  // namespace

std::string JournalText(const Plan& plan, const TreeLook& source) {
    std::string text = std::string(kFirstLine) + "\nfresh " + (plan.fresh ? "1" : "0") + "\n";
    size_t lines = 0;
    if (!plan.saveAside.empty()) text += "aside " + Utf8(Widen(plan.saveAside)) + "\n", ++lines;
    if (!plan.historyId.empty()) text += "history " + plan.historyId + "\n", ++lines;
    for (const auto& entry : plan.moves) text += Line("taken", entry), ++lines;
    for (const auto& folder : plan.newFolders) text += Line("added", {folder, true}), ++lines;
    for (const auto& placement : plan.placements)
        text += Line("added", {source.entries[placement.source].relative, false}), ++lines;
    for (const auto& change : plan.attributes) {
        if (change.made) continue;
        char hex[16];
        std::snprintf(hex, sizeof hex, "%lx", change.before);
        text += std::string("attributes ") + hex + " " + Utf8(change.relative) + "\n";
        ++lines;
    }
    return text + "end " + std::to_string(lines) + "\n";
}

bool ReadText(const std::string& path, std::string& content) {
    HANDLE file = CreateFileW(LongPathForm(Widen(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != FALSE) && read > 0) content.append(buffer, read);
    CloseHandle(file);
    return ok;
}

bool ReadJournal(const std::string& path, Journal& journal) {
    std::string content;
    if (!ReadText(path, content)) return false;
    std::vector<std::string> lines;
    for (size_t at = 0; at < content.size();) {
        const size_t end = content.find('\n', at);
        if (end == std::string::npos) return false;
        lines.push_back(content.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() < 3 || lines[0] != kFirstLine || (lines[1] != "fresh 0" && lines[1] != "fresh 1") ||
        lines.back() != "end " + std::to_string(lines.size() - 3))
        return false;
    journal.fresh = lines[1] == "fresh 1";
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.rfind("aside ", 0) == 0) {
            journal.saveAside = Narrow(FromUtf8(line.substr(6)));
            continue;
        }
        if (line.rfind("history ", 0) == 0) {
            journal.historyId = line.substr(8);
            continue;
        }
        if (line.rfind("attributes ", 0) == 0) {
            char* end = nullptr;
            const unsigned long value = std::strtoul(line.c_str() + 11, &end, 16);
            if (!end || *end != ' ') return false;
            journal.attributes.push_back({FromUtf8(end + 1), static_cast<DWORD>(value)});
            continue;
        }
        const bool taken = line.rfind("taken ", 0) == 0, added = line.rfind("added ", 0) == 0;
        if ((!taken && !added) || line.size() < 9 || (line[6] != 'd' && line[6] != 'f') || line[7] != ' ') return false;
        (taken ? journal.takenOut : journal.added).push_back({FromUtf8(line.substr(8)), line[6] == 'd'});
    }
    return true;
}

namespace {

bool CannotPutBack(const std::wstring& path, const FileOpResult& result, Messages& messages) {
    return Fail(messages, "Repairing interrupted transfer",
                "Cannot put back " + Narrow(path) + " (" + SystemErrorName(static_cast<int32_t>(result.error)) + ")");
}

// Whether `relative` names what the save still holds: it, or a folder above it, was to be
// taken out and is not in the undo folder yet.
bool StillTheSaves(const std::wstring& relative, const std::set<std::wstring>& takenOut, const std::wstring& undo) {
    for (std::wstring name = relative; !name.empty(); name = ParentOf(name))
        if (takenOut.count(FoldedName(name))) return !PathExists(JoinPath(undo, name));
    return false;
}

// The journal's changes undone in the next tree; true when it is the save again.
bool UndoChanges(const TransferNames& names, const Journal& journal, Messages& messages) {
    const std::wstring next = Widen(names.next), undo = Widen(names.undo);
    std::set<std::wstring> takenOut;
    for (const auto& entry : journal.takenOut) takenOut.insert(FoldedName(entry.relative));
    // What was added goes, files first, then the folders, deepest first; not what stands
    // under a name whose old entry was never taken out.
    for (auto it = journal.added.rbegin(); it != journal.added.rend(); ++it) {
        if (StillTheSaves(it->relative, takenOut, undo)) continue;
        const std::wstring path = JoinPath(next, it->relative);
        const FileOpResult removed = it->folder ? RemoveTreeDirect(path) : RemoveOneFile(path);
        if (!removed) return CannotPutBack(path, removed, messages);
    }
    // What was taken out comes back; what is not in the undo folder was never taken out.
    for (const auto& entry : journal.takenOut) {
        const std::wstring from = JoinPath(undo, entry.relative), to = JoinPath(next, entry.relative);
        if (!PathExists(from)) continue;
        const FileOpResult moved = MoveEntry(from, to);
        if (!moved) return CannotPutBack(to, moved, messages);
    }
    for (const auto& [relative, before] : journal.attributes)
        SetFileAttributesW(LongPathForm(JoinPath(next, relative)).c_str(), before ? before : FILE_ATTRIBUTE_NORMAL);
    return true;
}

}  // namespace

bool WriteJournal(const TransferNames& names, const Plan& plan, const TreeLook& source, Messages& messages) {
    const FileOpResult written = WriteFileDurably(Widen(names.journal), JournalText(plan, source));
    if (written) return true;
    return Fail(messages, "Copying",
                "Cannot write " + names.journal + " (" + SystemErrorName(static_cast<int32_t>(written.error)) + ")");
}

namespace {

// An undo folder that will not go (a file another program holds, a link the system cannot
// remove) moves out of the way under a name of its own, so that it never stops a transfer;
// the user deletes it when they like.
void RemoveUndoFolder(const TransferNames& names) {
    if (RemoveTreeDirect(Widen(names.undo))) return;
    for (int n = 2; n < 100; ++n) {
        const std::wstring aside = Widen(names.undo + "-" + std::to_string(n));
        if (PathExists(aside)) continue;
        MoveFileExW(LongPathForm(Widen(names.undo)).c_str(), LongPathForm(aside).c_str(), 0);
        return;
    }
}

}  // namespace

void RemoveUndoTraces(const TransferNames& names) {
    RemoveUndoFolder(names);
    for (const std::string& file : {names.journal, names.check, names.nextManifest}) {
        RemoveOneFile(DurableTempName(Widen(file)));
        RemoveOneFile(Widen(file));
    }
}

void RemoveSwitchTraces(const TransferNames& names, bool undoFolder) {
    // The undo folder first: while the journal is there, a kill here leaves traces that the
    // next repair clears.
    if (undoFolder) RemoveUndoFolder(names);
    RemoveOneFile(Widen(names.check));
    RemoveOneFile(Widen(names.journal));
}

std::string SaveAsideInJournal(const TransferNames& names) {
    Journal journal;
    return ReadJournal(names.journal, journal) ? journal.saveAside : "";
}

std::string FreeAsideName(const TransferNames& names) {
    for (int n = 2;; ++n) {
        const std::string name = names.oldSave + "-" + std::to_string(n);
        if (!PathExists(Widen(name)) || n >= 999) return name;
    }
}

bool TakeBackNext(const TransferNames& names, Messages& messages) {
    Journal journal;
    const bool known = ReadJournal(names.journal, journal);
    // A save that went aside at a switch cut short comes back first.
    if (known && !journal.saveAside.empty() && !PathExists(Widen(names.save)) &&
        PathExists(Widen(journal.saveAside)) && !RenameFolder(journal.saveAside, names.save, messages))
        return false;
    if (PathExists(Widen(names.next))) {
        // Not whole any more from the first step on: never to be switched in, and its
        // manifest never any tree's.
        RemoveCheckRecord(names);
        RemoveOneFile(Widen(names.nextManifest));
        const bool goes = known && journal.fresh;
        if (!goes && known && !UndoChanges(names, journal, messages)) return false;
        // The save back under its name; a fresh tree, or one whose save came back meanwhile
        // (an earlier version made one), goes.
        FileOpResult given;
        if (goes || PathExists(Widen(names.save)))
            given = RemoveTreeDirect(Widen(names.next));
        else
            given = RenameFolder(names.next, names.save, messages) ? FileOpResult::Done()
                                                                     : FileOpResult::Failed(GetLastError());
        if (!given) return CannotPutBack(Widen(names.next), given, messages);
        FlushParentOf(names.destination);
    }
    RemoveUndoTraces(names);
    return true;
}
