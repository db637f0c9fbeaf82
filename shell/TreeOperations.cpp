// Delete, copy and rename of folder trees through the shell's file operation: the shell
// services the configuration dialog uses, which tell their own failures in a box. The work itself is done
// by the wrappers of shell/FileSystem.h; the copy is checked against a listing.
#include "shell/Wintools.h"

#include "shell/FileSystem.h"
#include "shell/TreeListing.h"

#include <string>
#include <vector>

namespace {

// Tells the failure in its box; false in any case, so that a caller fails in one step.
bool Told(const FailureWording& wording, const FileOpResult& result) {
    if (result) return true;
    const Message message = FailureMessage(wording, result);
    return ShowErrorMessage(nullptr, message.title.c_str(), message.text.c_str());
}

bool IsFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool DeleteTree(const char* folder) {
    if (!PathExists(folder)) return false;
    return Told(kDeleteWording, ShellDeleteTree(folder));
}

bool CopyTreeContents(const char* source, const char* destination) {
    const char* title = kCopyWording.title;
    // An empty source would make the pattern "\\*.*": the whole root of the current drive.
    if (!source || !*source) return ShowErrorMessage(nullptr, title, "No source folder given");
    const std::string to = destination ? destination : "";
    // Made before the copy: left to make it, Wine turns the destination into a file
    // when the source holds one file, into the lone subfolder when it holds only that,
    // and into nothing when it is empty. Windows copies the same either way.
    MadeFolders made(to);
    // A file in the destination's place would be overwritten by Wine with a lone source file.
    if (PathExists(to.c_str()) && !IsFolder(to))
        return ShowErrorMessage(nullptr, title, ("Not a folder: " + to).c_str());
    if (!Told(kCopyWording, ShellCopyContents(source, to.c_str()))) {
        made.RemoveEmpty();
        return false;
    }
    // Wine reports success for a copy that skipped files (unreadable source, unwritable
    // or locked destination, missing source): only a complete copy counts.
    std::string difference;
    std::vector<TreeEntry> sourceEntries;
    const std::wstring sourceRoot = Widen(source);
    if (ListTree(sourceRoot, sourceEntries, difference) &&
        CopyMatchesSource(sourceEntries, sourceRoot, Widen(to), false, difference))
        return true;
    made.RemoveEmpty();
    return ShowErrorMessage(nullptr, title, difference.c_str());
}

bool RenameTree(const char* from, const char* to) { return Told(kRenameWording, ShellRenameTree(from, to)); }
