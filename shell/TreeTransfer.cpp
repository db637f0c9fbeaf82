// Copies a folder tree over another, keeping the previous tree as "<destination>.saved".
#include "shell/Wintools.h"

namespace {

bool DeleteFailed() { return ShowErrorMessage(nullptr, "Deleting old save folder", "Error occured during delete"); }

}  // namespace

bool TransferTree(const char* source, const char* destination) {
    // Made texts end in two NULs, as the shell wants its path lists.
    OwnedText sourceName(ConcatText(source));
    OwnedText destinationName(ConcatText(destination));
    OwnedText saveName(ConcatText(destination, ".saved"));
    OwnedText oldSaveName(ConcatText(destination, ".2delete"));

    // A left-over old save goes first. When neither the destination nor a save folder
    // exists, it is the last whole tree (an earlier call failed after moving the save
    // away): keep it rather than delete the only copy.
    const bool onlySurvivor = !PathExists(destinationName.Get()) && !PathExists(saveName.Get());
    if (PathExists(oldSaveName.Get()) && !onlySurvivor && !DeleteTree(oldSaveName.Get())) return DeleteFailed();

    if (PathExists(saveName.Get()) && !RenameTree(saveName.Get(), oldSaveName.Get()))
        return ShowErrorMessage(nullptr, "Renaming save to old save", "Error occuried during rename");

    if (!RenameTree(destinationName.Get(), saveName.Get()))
        return ShowErrorMessage(nullptr, "Renaming folder to save", "Error occuried during rename");

    if (!CopyTreeContents(sourceName.Get(), destinationName.Get()))
        return ShowErrorMessage(nullptr, "Copying", "Error occuried during filecopy");

    if (PathExists(oldSaveName.Get()) && !DeleteTree(oldSaveName.Get())) return DeleteFailed();
    return true;
}
