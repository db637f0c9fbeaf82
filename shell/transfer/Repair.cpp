// Putting right a transfer that was interrupted. The switch to a new tree is a fixed
// series of renames, so the folders present tell how far it got: a verified copy
// (".complete") is switched in, anything else goes back to the last whole tree.
#include "shell/transfer/Parts.h"

#include "shell/FileSystem.h"
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

class Repairer {
public:
    explicit Repairer(Messages& messages) : messages_(messages) {}

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

private:
    Step Rename(const std::string& from, const std::string& to) { return Outcome(RenameFolder(from, to, messages_)); }

    Step Remove(const std::string& folder) {
        const FileOpResult removed = RemoveTreeDirect(Widen(folder));
        if (!removed) messages_.push_back(FailureMessage(kDeleteWording, removed));
        return Outcome(removed.ok);
    }

    Messages& messages_;
};

}  // namespace

bool TransferInterrupted(const std::string& destination) {
    const TransferNames names(destination);
    if (names.EndsInSeparator()) return false;
    const Present is(names);
    return is.incoming || is.complete || is.oldSave || (is.save && !is.destination);
}

RepairResult RepairTransfer(const std::string& destination) {
    RepairResult result;
    const TransferNames names(destination);
    if (names.EndsInSeparator()) {
        result.ok = true;
        return result;
    }
    // Each step removes one left-over or makes one rename; a handful always suffices.
    Repairer repairer(result.messages);
    Step step = Step::Again;
    for (int n = 0; n < 8 && step == Step::Again; ++n) step = repairer.RepairStep(names);
    result.ok = step == Step::Done;
    if (!result.ok)
        Fail(result.messages, "Repairing interrupted transfer",
             "Could not put right an interrupted transfer to " + names.destination);
    return result;
}
