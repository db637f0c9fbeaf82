// Setting a tree aside: a copy beside it that the program never deletes, for work that
// must not be lost when a transfer replaces the tree. The copy is built under a name
// that says it is not whole, and takes its own name only once it is whole and on disk.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <cstdio>

namespace {

constexpr char kTitle[] = "Setting work aside";

}  // namespace

std::string FreeAsideFolder(const std::string& source) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, ".setaside-%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    const std::string base = source + stamp;
    std::string name = base;
    for (int n = 2; PathExists(Widen(name)) || PathExists(Widen(name + ".incoming")); ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

namespace {

FileOpResult PlaceFile(const std::wstring& from, const std::wstring& to, bool link) {
    if (link && Platform().createHardLink(LongPathForm(to).c_str(), LongPathForm(from).c_str(), nullptr))
        return FileOpResult::Done();
    return CopyOneFile(from, to, nullptr, nullptr);
}

bool BuildCopy(const std::wstring& source, const std::vector<TreeEntry>& entries, const std::wstring& copy, bool link,
               Messages& messages) {
    if (FileOpResult made = MakeFolder(copy); !made) return Fail(messages, kTitle, FailureMessage(kCopyWording, made).text);
    for (const TreeEntry& entry : entries) {
        const std::wstring to = JoinPath(copy, entry.relative);
        const FileOpResult placed = entry.folder ? MakeFolder(to) : PlaceFile(JoinPath(source, entry.relative), to, link);
        if (!placed)
            return Fail(messages, kTitle,
                        "Cannot copy " + Narrow(JoinPath(source, entry.relative)) + " (" +
                            SystemErrorName(static_cast<int32_t>(placed.error)) + ")");
    }
    std::string difference;
    if (!CopyMatchesSource(entries, source, copy, true, difference)) return Fail(messages, kTitle, difference);
    return true;
}

}  // namespace

SetAsideResult SetTreeAside(const std::string& source, const std::string& aside, bool linkFiles) {
    SetAsideResult result;
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(Widen(source), entries, problem)) {
        Fail(result.messages, kTitle, problem);
        return result;
    }
    const std::wstring building = Widen(aside + ".incoming");
    // Whole and on the disk before the copy takes its own name: a power cut must not leave
    // a folder of that name with empty files in it.
    std::vector<TreeEntry> flushed;
    if (!BuildCopy(Widen(source), entries, building, linkFiles, result.messages) ||
        !FlushTree(Narrow(building), flushed, result.messages)) {
        RemoveTreeDirect(building);
        return result;
    }
    if (!MoveFileExW(LongPathForm(building).c_str(), LongPathForm(Widen(aside)).c_str(), MOVEFILE_WRITE_THROUGH)) {
        Fail(result.messages, kTitle,
             "Cannot name the copy " + aside + " (" + SystemErrorName(static_cast<int32_t>(GetLastError())) + ")");
        RemoveTreeDirect(building);
        return result;
    }
    FlushParentOf(aside);
    result.ok = true;
    result.folder = aside;
    return result;
}
