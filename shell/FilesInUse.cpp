// Whether another program still holds a file of a tree open. The system is asked first,
// so that nothing is opened: an open of ours, for its moment, could make the program's
// own open of that file fail.
#include "shell/FileHolders.h"
#include "shell/Handles.h"
#include "shell/TreeListing.h"
#include "shell/Wintools.h"

namespace {

// Where the system cannot say, an open tells. It asks for reading and shares everything,
// so it fails only against a holder that shares no reading (a program holding its data
// exclusively), and while it lasts it fails only a program's open that shares no reading.
// An open that asks for no data access would never fail, but it tells nothing; one that
// shares nothing (as before) would tell more and fail every open of the program meanwhile.
Holders ProbeFirstHeld(const std::wstring& root, const std::vector<std::wstring>& files, size_t& first) {
    for (size_t i = 0; i < files.size(); ++i) {
        const std::wstring path = JoinPath(root, files[i]);
        KernelHandle file(CreateFileW(path.c_str(), FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        if (file) continue;
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            first = i;
            return Holders::Found;
        }
    }
    return Holders::None;
}

// Windows' Restart Manager answers; under Wine it sees nothing, and the probe answers.
// (Naming handles from the system's handle table was tried: a duplicate keeps the
// program's last open alive for a moment, so its next exclusive open fails just the same.)
Holders FirstHeld(const std::wstring& root, const std::vector<std::wstring>& files, size_t& first) {
    const Holders answer = RestartManagerFirstHeld(root, files, first);
    return answer != Holders::Unknown ? answer : ProbeFirstHeld(root, files, first);
}

}  // namespace

bool FirstFileInUse(const char* folder, std::string& inUse) {
    const std::wstring root = Widen(folder ? folder : "");
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(root, entries, problem)) return false;
    std::vector<std::wstring> files;
    for (const auto& entry : entries)
        if (!entry.folder) files.push_back(entry.relative);
    size_t first = 0;
    if (FirstHeld(root, files, first) != Holders::Found) return false;
    inUse = Narrow(JoinPath(root, files[first]));
    return true;
}
