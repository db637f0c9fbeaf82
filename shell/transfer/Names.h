// The folders a transfer to one destination works with, all siblings of it.
#pragma once

#include <string>

struct TransferNames {
    explicit TransferNames(const std::string& destination)
        : destination(destination),
          save(destination + ".saved"),
          oldSave(destination + ".2delete"),
          incoming(destination + ".incoming"),
          complete(destination + ".complete"),
          check(complete + ".check"),
          manifest(destination + ".manifest") {}

    // "X\" would put every sibling inside X itself: such a destination is refused.
    bool EndsInSeparator() const {
        return !destination.empty() && (destination.back() == '\\' || destination.back() == '/');
    }

    std::string destination;
    std::string save;      // the tree before the destination's present one
    std::string oldSave;   // the save before last, while it is being let go
    std::string incoming;  // a copy being made: never trusted, never used
    std::string complete;  // a copy made and verified, waiting to be switched in
    std::string check;     // what the complete copy holds: without it, it is not trusted
    std::string manifest;  // a file: what the destination's tree was made from (Manifest.cpp)
};
