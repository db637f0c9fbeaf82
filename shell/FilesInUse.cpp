// Whether another program still holds a file of a tree open. A program that has the
// file open cannot share it with an open that shares nothing, on Windows and under
// Wine alike, so such an open tells.
#include "shell/Handles.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"

bool FirstFileInUse(const char* folder, std::string& inUse) {
    const std::wstring root = Widen(folder ? folder : "");
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(root, entries, problem)) return false;
    for (const auto& entry : entries) {
        if (entry.folder) continue;
        const std::wstring path = JoinPath(root, entry.relative);
        KernelHandle file(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file) continue;
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            inUse = Narrow(path);
            return true;
        }
    }
    return false;
}
