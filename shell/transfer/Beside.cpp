// What lies beside the destination, seen in one look at the folder that holds it: on a
// share that is one directory query, where asking for each name would be a round trip
// each.
#include "shell/transfer/Parts.h"

#include "shell/Handles.h"
#include "shell/Trace.h"
#include "shell/Wintools.h"

#include <algorithm>

namespace {

constexpr wchar_t kLetGoMark[] = L".deleting-";

// What an earlier version put after the mark: hex digits and one dash.
bool IsLetGoTail(const std::wstring& tail) {
    if (tail.empty() || tail.size() > 40) return false;
    return std::all_of(tail.begin(), tail.end(),
                       [](wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || c == L'-'; });
}

std::wstring LeafOf(const std::string& path) {
    const std::wstring wide = Widen(path);
    const size_t cut = wide.find_last_of(L"\\/");
    return cut == std::wstring::npos ? wide : wide.substr(cut + 1);
}

std::wstring ParentFolderOf(const std::string& path) {
    const std::wstring wide = Widen(path);
    const size_t cut = wide.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : wide.substr(0, cut + 1);
}

}  // namespace

bool LookBeside(const TransferNames& names, Beside& beside, std::string& problem) {
    beside = Beside{};
    const std::wstring parent = ParentFolderOf(names.destination);
    const std::wstring leaf = LeafOf(names.destination);
    const auto is = [&](const std::string& name) { return FoldedName(LeafOf(name)); };
    const struct {
        std::wstring name;
        bool* present;
    } known[] = {
        {is(names.destination), &beside.destination}, {is(names.save), &beside.save},
        {is(names.next), &beside.next},               {is(names.undo), &beside.undo},
        {is(names.journal), &beside.journal},         {is(names.check), &beside.check},
        {is(names.nextManifest), &beside.nextManifest}, {is(names.incoming), &beside.incoming},
        {is(names.complete), &beside.complete},       {is(names.completeCheck), &beside.completeCheck},
        {is(names.oldSave), &beside.oldSave},
    };
    const std::wstring pattern = parent + leaf + L"*";
    NoteFileCall(pattern);
    WIN32_FIND_DATAW found;
    FindHandle search(FindFirstFileExW(LongPathForm(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                       nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return true;
        problem = "Cannot read folder: " + Narrow(parent) + " (" + SystemErrorName(static_cast<int32_t>(error)) + ")";
        SetLastError(error);
        return false;
    }
    const std::wstring letGoPrefix = FoldedName(leaf + kLetGoMark);
    do {
        // The pattern may match through short names: only exact names count.
        const std::wstring name = FoldedName(found.cFileName);
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        for (const auto& k : known)
            if (name == k.name) *k.present = true;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, L".NEW") == 0)
            for (const auto& k : known)
                if (name == k.name + L".NEW") beside.temporaries = true;
        if (name == FoldedName(LeafOf(names.manifest)) + L".NEW" || name == FoldedName(LeafOf(names.saveManifest)) + L".NEW")
            beside.temporaries = true;
        if (folder && name.size() > letGoPrefix.size() && name.compare(0, letGoPrefix.size(), letGoPrefix) == 0 &&
            IsLetGoTail(std::wstring(found.cFileName).substr(letGoPrefix.size())))
            beside.letGo.push_back(Narrow(parent + found.cFileName));
    } while (FindNextFileW(search.Get(), &found));
    return true;
}
