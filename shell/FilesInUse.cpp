// Whether another program still holds a file of a tree open. The Restart Manager is
// asked first, as it opens nothing: an open of ours, for its moment, could make the
// program's own open of that file fail.
#include "shell/FileHolders.h"
#include "shell/Handles.h"
#include "shell/ParallelWork.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"

#include <algorithm>

namespace {

// Where the system cannot say, an open tells, several at a time. It asks for reading and
// shares everything, so it fails only against a holder that shares no reading (a program
// holding its data exclusively), and while it lasts it fails only a program's open that
// shares no reading. An open that asks for no data access would never fail, but it tells
// nothing; one that shares nothing (as before) would tell more and fail every open of the
// program meanwhile.
Holders ProbeFirstHeld(const std::vector<std::wstring>& paths, size_t begin, size_t end, size_t& first) {
    const size_t held = ForEachInParallel(end - begin, kFileWorkThreads, [&](size_t i) {
        KernelHandle file(CreateFileW(LongPathForm(paths[begin + i]).c_str(), FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        if (file) return true;
        const DWORD error = GetLastError();
        return error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION;
    });
    if (held == end - begin) return Holders::None;
    first = begin + held;
    return Holders::Found;
}

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
        if (n == 0) return path;
        if (n < full.size()) return full.substr(0, n);
        full.resize(n + 1);
    }
}

// Large enough that a data folder takes a few Restart Manager sessions, small enough
// that one it cannot tell costs few opens.
constexpr size_t kBatch = 256;

// Windows' Restart Manager answers; under Wine it sees nothing, and the probe answers.
// (Naming handles from the system's handle table was tried: a duplicate keeps the
// program's last open alive for a moment, so its next exclusive open fails just the same.)
bool FirstHeld(const std::vector<std::wstring>& paths, size_t& first) {
    for (size_t begin = 0; begin < paths.size(); begin += kBatch) {
        const size_t end = std::min(paths.size(), begin + kBatch);
        Holders answer = RestartManagerFirstHeld(paths, begin, end, first);
        if (answer == Holders::Unknown) answer = ProbeFirstHeld(paths, begin, end, first);
        if (answer == Holders::Found) return true;
    }
    return false;
}

}  // namespace

bool FirstFileInUse(const char* folder, std::string& inUse) {
    const std::wstring root = Widen(folder ? folder : "");
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(root, entries, problem)) return false;
    // Full paths for the Restart Manager; the file is named as the caller names the folder.
    const std::wstring fullRoot = FullPath(root);
    std::vector<std::wstring> paths, relatives;
    for (const auto& entry : entries) {
        if (entry.folder) continue;
        paths.push_back(JoinPath(fullRoot, entry.relative));
        relatives.push_back(entry.relative);
    }
    size_t first = 0;
    if (!FirstHeld(paths, first)) return false;
    inUse = Narrow(JoinPath(root, relatives[first]));
    return true;
}
