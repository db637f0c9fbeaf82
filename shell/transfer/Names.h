// The names a transfer to one destination works with, all siblings of it.
#pragma once

#include <string>

struct TransferNames {
    explicit TransferNames(const std::string& destination)
        : destination(destination),
          save(destination + ".saved"),
          next(destination + ".next"),
          undo(next + ".undo"),
          journal(next + ".journal"),
          check(next + ".check"),
          manifest(destination + ".manifest"),
          saveManifest(save + ".manifest"),
          nextManifest(next + ".manifest"),
          incoming(destination + ".incoming"),
          complete(destination + ".complete"),
          completeCheck(complete + ".check"),
          oldSave(destination + ".2delete") {}

    // "X\" would put every sibling inside X itself: such a destination is refused.
    bool EndsInSeparator() const {
        return !destination.empty() && (destination.back() == '\\' || destination.back() == '/');
    }

    std::string destination;
    std::string save;  // the tree before the destination's present one
    // The save while a transfer makes it into the next tree, changing only what differs;
    // put back into the save if the transfer does not finish.
    std::string next;
    std::string undo;     // a folder: what was taken out of the next tree, to be put back
    std::string journal;  // what the transfer changes in the next tree, written before it does
    std::string check;    // what the next tree holds, once it is whole and on disk
    std::string manifest;      // a file: what each file of the destination's tree was made from
    std::string saveManifest;  // the same for the save
    std::string nextManifest;  // the same for the next tree, before the switch
    // Left by earlier versions of the program, which built a whole new tree beside the
    // destination and let the save before last go.
    std::string incoming;       // a copy being made
    std::string complete;       // a copy made and checked
    std::string completeCheck;  // its record
    std::string oldSave;        // the save before last, about to go
};
