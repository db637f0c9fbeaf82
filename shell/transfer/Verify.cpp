// The check that the new tree holds the whole source: a copy call that reported success
// is no proof (the shell's skips files, a full disk can cut one short), so only what is
// found on disk counts.
#include "shell/transfer/Parts.h"

#include "shell/Wintools.h"

bool VerifyIncoming(const std::string& source, const std::vector<TreeEntry>& sourceEntries,
                    const TransferNames& names, Messages& messages) {
    std::string difference;
    if (CopyMatchesSource(sourceEntries, Widen(source), Widen(names.incoming), true, difference)) return true;
    return Fail(messages, "Copying", difference);
}
