// The check that the new tree holds the whole source: a copy call that reported success
// is no proof (the shell's skips files, a full disk can cut one short), so only what is
// found on disk counts. And the record that lets a later repair tell a complete copy that
// is still whole from one that a cut-short delete or a crash has left partial.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <cstdio>

namespace {

// Files, bytes and the fingerprint (names, kinds, sizes, times) of a tree, as one text:
// a partial tree differs in at least one of them.
std::string RecordOf(const std::vector<TreeEntry>& entries) {
    uint64_t files = 0, bytes = 0;
    for (const auto& entry : entries) {
        if (entry.folder) continue;
        ++files;
        bytes += entry.size;
    }
    char text[160];
    std::snprintf(text, sizeof text, "files %llu\r\nbytes %llu\r\nfingerprint %016llx\r\n",
                  static_cast<unsigned long long>(files), static_cast<unsigned long long>(bytes),
                  static_cast<unsigned long long>(TreeFingerprint(entries)));
    return text;
}

bool ReadRecord(const std::string& path, std::string& content) {
    KernelHandle file(CreateFileW(LongPathForm(Widen(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    if (!file) return false;
    char buffer[512];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return false;
    content.assign(buffer, read);
    return true;
}

}  // namespace

bool VerifyIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                    const TransferNames& names, std::vector<TreeEntry>& incomingEntries, Messages& messages) {
    std::string difference;
    if (CopyMatchesSource(sourceEntries, Widen(source), Widen(names.incoming), true, difference, &incomingEntries))
        return true;
    return Fail(messages, "Copying", difference);
}

bool WriteCheckRecord(const TransferNames& names, const std::vector<TreeEntry>& entries, Messages& messages) {
    const FileOpResult written = WriteFileDurably(Widen(names.check), RecordOf(entries));
    if (written) return true;
    return Fail(messages, kCopyWording.title,
                "Cannot write " + names.check + " (" + SystemErrorName(static_cast<int32_t>(written.error)) + ")");
}

bool CompleteIsWhole(const TransferNames& names) {
    std::string recorded;
    if (!ReadRecord(names.check, recorded)) return false;
    std::vector<TreeEntry> entries;
    std::string problem;
    return ListTree(Widen(names.complete), entries, problem) && RecordOf(entries) == recorded;
}

bool CheckRecordPresent(const TransferNames& names) {
    return PathExists(Widen(names.check)) || PathExists(DurableTempName(Widen(names.check)));
}

void RemoveCheckRecord(const TransferNames& names) {
    DeleteFileW(LongPathForm(DurableTempName(Widen(names.check))).c_str());
    DeleteFileW(LongPathForm(Widen(names.check)).c_str());
}
