// The history beside the share's data: a log of records, one line each, and for each
// period an entry folder with what its copy back changed and its increment (the journal
// and the undo folder the switch would otherwise delete). A line is written whole after
// the entry is complete, and a line cut short is never read, so a kill at any point
// leaves the history readable; the repair finishes or drops an entry whose switch it sees.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kRecordFile[] = "record";
constexpr char kChangesFile[] = "changes";
constexpr char kJournalFile[] = "journal";
constexpr char kUndoFolder[] = "undo";
// Records kept in the log: the list stays quick, and an entry outlives no record.
constexpr size_t kRecordsKept = 1000;
constexpr size_t kRecordsBeforeTrim = 1200;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

uint64_t FromHex(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 16); }

uint64_t Checksum(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;  // FNV-1a
    }
    return hash;
}

// A text field of a line: UTF-8, with the characters that frame a line escaped.
std::string Field(const std::string& ansi) {
    std::string out;
    for (const char c : Utf8(Widen(ansi))) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string Unfield(const std::string& field) {
    std::string utf8;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            utf8 += field[i];
            continue;
        }
        const char c = field[++i];
        utf8 += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return Narrow(FromUtf8(utf8));
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t cut; (cut = line.find(separator, at)) != std::string::npos; at = cut + 1)
        parts.push_back(line.substr(at, cut - at));
    parts.push_back(line.substr(at));
    return parts;
}

// The parts of a line, its checksum last, ended by a newline.
std::string Sealed(const std::vector<std::string>& parts) {
    std::string line;
    for (const auto& part : parts) line += (line.empty() ? "" : "\t") + part;
    return line + "\t" + Hex(Checksum(line)) + "\n";
}

// A line's parts when it is whole and unchanged; none otherwise.
std::vector<std::string> Unsealed(const std::string& line) {
    const size_t cut = line.rfind('\t');
    if (cut == std::string::npos || FromHex(line.substr(cut + 1)) != Checksum(line.substr(0, cut))) return {};
    return Split(line.substr(0, cut), '\t');
}

std::string PeriodLine(const HistoryRecord& r) {
    return Sealed({"P", r.id, Hex(TimeValue(r.began)), Hex(TimeValue(r.ended)), Field(r.user), Field(r.pc), Hex(r.made),
                   Hex(r.base), Hex(r.fingerprint), Hex(r.added), Hex(r.changed), Hex(r.removed),
                   Hex(r.incrementBytes), Hex(r.treeBytes)});
}

std::string EventLine(const HistoryRecord& r) {
    return Sealed({"E", r.id, Hex(TimeValue(r.ended)), Field(r.user), Field(r.pc), Field(r.text)});
}

std::string PrunedLine(const std::string& id) { return Sealed({"X", id}); }

FILETIME AsFileTime(uint64_t value) { return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)}; }

bool ParseRecord(const std::vector<std::string>& p, HistoryRecord& r) {
    if (p.size() == 14 && p[0] == "P") {
        r.kind = HistoryKind::Period;
        r.id = p[1];
        r.began = AsFileTime(FromHex(p[2]));
        r.ended = AsFileTime(FromHex(p[3]));
        r.user = Unfield(p[4]);
        r.pc = Unfield(p[5]);
        r.made = FromHex(p[6]);
        r.base = FromHex(p[7]);
        r.fingerprint = FromHex(p[8]);
        r.added = FromHex(p[9]);
        r.changed = FromHex(p[10]);
        r.removed = FromHex(p[11]);
        r.incrementBytes = FromHex(p[12]);
        r.treeBytes = FromHex(p[13]);
        r.incrementKept = r.base != 0;
        return true;
    }
    if (p.size() == 6 && p[0] == "E") {
        r.kind = HistoryKind::Event;
        r.id = p[1];
        r.ended = AsFileTime(FromHex(p[2]));
        r.user = Unfield(p[3]);
        r.pc = Unfield(p[4]);
        r.text = Unfield(p[5]);
        return true;
    }
    return false;
}

// The log's whole lines, oldest first, and the records they make.
struct LogLines {
    std::vector<std::string> lines;
    std::vector<HistoryRecord> records;  // oldest first
};

bool ReadLog(const HistoryNames& history, LogLines& log, std::string& problem) {
    std::string content;
    if (!ReadText(history.log, content)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        problem = "Cannot read " + history.log + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")";
        return false;
    }
    std::vector<std::string> pruned;
    size_t at = 0;
    for (size_t end; (end = content.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = content.substr(at, end - at);
        const std::vector<std::string> parts = Unsealed(line);
        HistoryRecord record;
        if (parts.size() == 2 && parts[0] == "X") {
            pruned.push_back(parts[1]);
        } else if (ParseRecord(parts, record)) {
            log.records.push_back(record);
        } else {
            continue;  // cut short by a crash, or foreign
        }
        log.lines.push_back(line + "\n");
    }
    for (auto& record : log.records)
        if (std::find(pruned.begin(), pruned.end(), record.id) != pruned.end()) record.incrementKept = false;
    return true;
}

// Appends whole lines; a line a crash cut short before gets its end first, so that it
// never swallows the next.
bool AppendToLog(const HistoryNames& history, const std::string& lines) {
    MakeFolder(Widen(history.folder));
    const std::wstring log = Widen(history.log);
    NoteFileCall(log);
    KernelHandle file(CreateFileW(LongPathForm(log).c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::string text = lines;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0) {
        LARGE_INTEGER last;
        last.QuadPart = size.QuadPart - 1;
        char end = '\n';
        DWORD read = 0;
        if (SetFilePointerEx(file.Get(), last, nullptr, FILE_BEGIN) && ReadFile(file.Get(), &end, 1, &read, nullptr) &&
            read == 1 && end != '\n')
            text = "\n" + text;
    }
    DWORD written = 0;
    return ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(file.Get());
}

bool WriteSmallFile(const std::string& path, const std::string& content) {
    return WriteFileDurably(Widen(path), content, FolderFlush::ByCaller).ok;
}

std::string ChangesText(const std::vector<HistoryChange>& changes) {
    std::string text;
    for (const auto& change : changes)
        text += std::string(1, change.kind) + "\t" + Hex(change.size) + "\t" + Utf8(change.name) + "\n";
    return text;
}

bool ReadRecordFile(const std::string& entry, HistoryRecord& record) {
    std::string content;
    return ReadText(entry + "\\" + kRecordFile, content) && !content.empty() && content.back() == '\n' &&
           ParseRecord(Unsealed(content.substr(0, content.size() - 1)), record);
}

// Ages in 100 ns, as FILETIMEs count.
uint64_t Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return TimeValue(now);
}

void PruneIncrement(const HistoryNames& history, const std::string& id) {
    const std::string entry = history.Entry(id);
    // Without its journal an increment is no longer used; then its files go.
    RemoveOneFile(Widen(entry + "\\" + kJournalFile));
    const std::wstring undo = Widen(entry + "\\" + kUndoFolder), going = undo + L".pruned";
    if (PathExists(undo)) MoveEntry(undo, going);
    RemoveTreeDirect(going);
    AppendToLog(history, PrunedLine(id));
}

// Past the last thousand records the log is written anew without the oldest, and their
// entries go.
void TrimLog(const HistoryNames& history, const LogLines& log) {
    if (log.records.size() <= kRecordsBeforeTrim) return;
    const size_t dropped = log.records.size() - kRecordsKept;
    std::vector<std::string> gone;
    for (size_t i = 0; i < dropped; ++i) gone.push_back(log.records[i].id);
    std::string kept;
    for (const auto& line : log.lines) {
        const std::vector<std::string> parts = Unsealed(line.substr(0, line.size() - 1));
        if (parts.size() < 2 || std::find(gone.begin(), gone.end(), parts[1]) == gone.end()) kept += line;
    }
    if (!WriteFileDurably(Widen(history.log), kept)) return;
    for (const auto& id : gone) RemoveTreeDirect(Widen(history.Entry(id)));
}

}  // namespace

std::string HistoryFolder(const std::string& shared) { return shared + ".history"; }

std::string NewHistoryId() {
    static std::atomic<unsigned> counter{0};
    SYSTEMTIME t;
    GetSystemTime(&t);
    char id[64];
    std::snprintf(id, sizeof id, "%04u%02u%02u-%02u%02u%02u-%08llx", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, static_cast<unsigned long long>(NewGeneration() ^ counter++) & 0xffffffffull);
    return id;
}

std::vector<HistoryChange> ChangesAgainst(const TreeLook& source, const TreeLook* present) {
    std::vector<HistoryChange> changes;
    if (!present) return changes;
    for (const auto& entry : source.entries) {
        if (entry.folder) continue;
        const std::wstring name = FoldedName(entry.relative);
        const TreeEntry* before = present->Find(name);
        if (!before || before->folder)
            changes.push_back({'A', entry.size, entry.relative});
        else if (!SameFile(entry, source.TokenOf(name), *before, present->TokenOf(name)) || before->relative != entry.relative)
            changes.push_back({'C', entry.size, entry.relative});
    }
    for (const auto& entry : present->entries) {
        if (entry.folder) continue;
        const TreeEntry* now = source.Find(FoldedName(entry.relative));
        if (!now || now->folder) changes.push_back({'R', entry.size, entry.relative});
    }
    return changes;
}

bool PrepareHistoryEntry(const TransferNames& names, const HistoryRecord& record,
                         const std::vector<HistoryChange>& changes) {
    const HistoryNames history(names.destination);
    const std::string entry = history.Incoming(record.id);
    MakeFolder(Widen(history.folder));
    const bool made = MakeFolder(Widen(entry)).ok && WriteSmallFile(entry + "\\" + kChangesFile, ChangesText(changes)) &&
                      CopyOneFile(Widen(names.journal), Widen(entry + "\\" + kJournalFile), nullptr, nullptr).ok &&
                      WriteSmallFile(entry + "\\" + kRecordFile, PeriodLine(record));
    if (made) FlushFolder(Widen(entry));
    else RemoveTreeDirect(Widen(entry));
    return made;
}

void KeepHistoryEntry(const TransferNames& names, const std::string& id, bool afterKill) {
    const HistoryNames history(names.destination);
    const std::string incoming = history.Incoming(id), entry = history.Entry(id);
    if (PathExists(Widen(incoming))) {
        const std::wstring undo = Widen(incoming + "\\" + kUndoFolder);
        if (PathExists(Widen(names.undo)) && !PathExists(undo)) MoveEntry(Widen(names.undo), undo);
        MoveEntry(Widen(incoming), Widen(entry));
        FlushFolder(Widen(history.folder));
    }
    HistoryRecord record;
    if (ReadRecordFile(entry, record)) {
        LogLines log;
        std::string problem;
        const bool logged = afterKill && ReadLog(history, log, problem) &&
                            std::any_of(log.records.begin(), log.records.end(),
                                        [&](const HistoryRecord& r) { return r.id == record.id; });
        if (!logged) AppendToLog(history, PeriodLine(record));
    }
    RemoveSwitchTraces(names, PathExists(Widen(names.undo)));
}

void DropHistoryEntry(const TransferNames& names, const std::string& id) {
    RemoveTreeDirect(Widen(HistoryNames(names.destination).Incoming(id)));
}

bool HistoryEntrySwitched(const TransferNames& names, const std::string& id) {
    const HistoryNames history(names.destination);
    HistoryRecord record;
    if (!ReadRecordFile(history.Incoming(id), record) && !ReadRecordFile(history.Entry(id), record)) return false;
    // Once the manifests are settled, the destination's names the tree it holds.
    Manifest stamp;
    return ReadManifestStamp(names.manifest, stamp) && stamp.generation == record.made;
}

void PruneHistory(const TransferNames& names, const HistoryRetention& retention) {
    const HistoryNames history(names.destination);
    LogLines log;
    std::string problem;
    if (!ReadLog(history, log, problem)) return;
    std::vector<const HistoryRecord*> periods;  // newest first
    for (auto it = log.records.rbegin(); it != log.records.rend(); ++it)
        if (it->kind == HistoryKind::Period) periods.push_back(&*it);
    if (!periods.empty()) {
        const uint64_t budget = periods.front()->treeBytes * static_cast<uint64_t>(std::max(retention.sizePercent, 0)) / 100;
        const uint64_t recent = static_cast<uint64_t>(std::max(retention.days, 0)) * 24ull * 3600ull * 10000000ull;
        const uint64_t now = Now();
        uint64_t kept = 0;
        bool pruning = false;
        for (size_t i = 0; i < periods.size(); ++i) {
            const HistoryRecord& period = *periods[i];
            if (!period.incrementKept) continue;
            const bool wanted = i < static_cast<size_t>(std::max(retention.periods, 0)) ||
                                now - TimeValue(period.ended) < recent;
            // The oldest go first: once one goes, every older one goes too.
            pruning = pruning || !wanted || kept + period.incrementBytes > budget;
            if (pruning) PruneIncrement(history, period.id);
            else kept += period.incrementBytes;
        }
    }
    TrimLog(history, log);
}

bool ReadHistory(const std::string& shared, std::vector<HistoryRecord>& records, std::string& problem) {
    LogLines log;
    if (!ReadLog(HistoryNames(shared), log, problem)) return false;
    records.assign(log.records.rbegin(), log.records.rend());
    return true;
}

bool ReadHistoryChanges(const std::string& shared, const HistoryRecord& period, std::vector<HistoryChange>& changes,
                        std::string& problem) {
    const std::string path = HistoryNames(shared).Entry(period.id) + "\\" + kChangesFile;
    std::string content;
    if (!ReadText(path, content)) {
        problem = "Cannot read " + path + " (" + SystemErrorName(static_cast<int32_t>(GetLastError())) + ")";
        return false;
    }
    changes.clear();
    for (const std::string& line : Split(content, '\n')) {
        const std::vector<std::string> parts = Split(line, '\t');
        if (parts.size() != 3 || parts[0].size() != 1) continue;
        changes.push_back({parts[0][0], FromHex(parts[1]), FromUtf8(parts[2])});
    }
    return true;
}

bool RecordHistoryEvent(const std::string& shared, HistoryRecord event, std::string& problem) {
    event.kind = HistoryKind::Event;
    event.id = NewHistoryId();
    // An event written later than it happened keeps its own time.
    if (!TimeValue(event.ended)) GetSystemTimeAsFileTime(&event.ended);
    const HistoryNames history(shared);
    if (AppendToLog(history, EventLine(event))) return true;
    problem = "Cannot write " + history.log + " (" + SystemErrorName(static_cast<int32_t>(GetLastError())) + ")";
    return false;
}
