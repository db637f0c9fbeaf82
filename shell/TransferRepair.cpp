// Putting right a transfer that was interrupted. The switch to a new tree is a fixed
// series of renames, so the folders present tell how far it got: a verified copy
// (".complete") is switched in, anything else goes back to the last whole tree.
#include "shell/TransferNames.h"
#include "shell/TreeCopy.h"
#include "shell/Wintools.h"

namespace {

struct Present {
    explicit Present(const TransferNames& names)
        : destination(PathExists(names.destination.c_str())),
          save(PathExists(names.save.c_str())),
          oldSave(PathExists(names.oldSave.c_str())),
          incoming(PathExists(names.incoming.c_str())),
          complete(PathExists(names.complete.c_str())) {}
    bool destination, save, oldSave, incoming, complete;
};

enum class Step { Done, Failed, Again };

Step Outcome(bool succeeded) { return succeeded ? Step::Again : Step::Failed; }

Step Rename(const std::string& from, const std::string& to) { return Outcome(RenameTree(from.c_str(), to.c_str())); }

Step Remove(const std::string& folder) { return Outcome(RemoveTreeDirect(Widen(folder), false)); }

// One step towards the normal form: a destination, perhaps a save, nothing else.
Step RepairStep(const TransferNames& names) {
    const Present is(names);
    // A copy that was not verified is never used.
    if (is.incoming) return Remove(names.incoming);
    if (is.complete) {
        // A verified copy finishes the switch the interrupted transfer began.
        if (is.destination && is.save) return is.oldSave ? Remove(names.oldSave) : Rename(names.save, names.oldSave);
        if (is.destination) return Rename(names.destination, names.save);
        return Rename(names.complete, names.destination);
    }
    if (is.oldSave && is.destination && is.save) return Remove(names.oldSave);
    if (is.oldSave && is.destination) return Rename(names.oldSave, names.save);
    if (!is.destination && is.save) return Rename(names.save, names.destination);
    if (!is.destination && is.oldSave) return Rename(names.oldSave, names.destination);
    return Step::Done;
}

}  // namespace

bool TransferInterrupted(const char* destination) {
    const TransferNames names(destination);
    if (names.EndsInSeparator()) return false;
    const Present is(names);
    return is.incoming || is.complete || is.oldSave || (is.save && !is.destination);
}

bool RepairTransfer(const char* destination) {
    const TransferNames names(destination);
    if (names.EndsInSeparator()) return true;
    // Each step removes one left-over or makes one rename; a handful always suffices.
    Step step = Step::Again;
    for (int n = 0; n < 8 && step == Step::Again; ++n) step = RepairStep(names);
    if (step == Step::Done) return true;
    return ShowErrorMessage(nullptr, "Repairing interrupted transfer",
                            ("Could not put right an interrupted transfer to " + names.destination).c_str());
}
