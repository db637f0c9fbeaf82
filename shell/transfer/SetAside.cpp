// Setting a tree aside: a whole copy beside it that the program never deletes, for work
// that must not be lost when a transfer replaces the tree. Every file is a file of its
// own (copied on the tree's own side: on a server the server copies it), so opening the
// copy in a program can never change the data. The copy is built under a name that says
// it is not whole, and takes its own name only once it is whole and on disk.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
#include "shell/Wintools.h"

#include <cstdio>

namespace {

constexpr char kTitle[] = "Setting work aside";

bool BuildCopy(const std::wstring& source, const std::vector<TreeEntry>& entries, const std::wstring& copy,
               Messages& messages) {
    if (FileOpResult made = MakeFolder(copy); !made) return Fail(messages, kTitle, FailureMessage(kCopyWording, made).text);
    for (const TreeEntry& entry : entries) {
        const std::wstring to = JoinPath(copy, entry.relative);
        const FileOpResult placed =
            entry.folder ? MakeFolder(to) : CopyOneFile(JoinPath(source, entry.relative), to, nullptr, nullptr);
        if (!placed)
            return Fail(messages, kTitle,
                        "Cannot copy " + Narrow(JoinPath(source, entry.relative)) + " (" +
                            SystemErrorName(static_cast<int32_t>(placed.error)) + ")");
    }
    return CopyMatchesListing(entries, source, copy, messages, kTitle);
}

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

SetAsideResult SetTreeAside(const std::string& source, const std::string& aside) {
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
    if (!NameWhenWhole(building, aside, BuildCopy(Widen(source), entries, building, result.messages), result.messages,
                       kTitle))
        return result;
    result.ok = true;
    result.folder = aside;
    return result;
}
