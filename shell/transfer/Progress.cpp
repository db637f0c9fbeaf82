// The progress record shared by the transferring worker and the window that shows it.
#include "shell/transfer/Transfer.h"

void TransferProgress::SetTotal(uint64_t files, uint64_t bytes) {
    filesTotal_ = files;
    bytesTotal_ = bytes;
}

void TransferProgress::AddDone(uint64_t files, uint64_t bytes) {
    filesDone_ += files;
    bytesDone_ += bytes;
}

TransferProgress::Counts TransferProgress::Read() const {
    Counts counts;
    counts.filesDone = filesDone_;
    counts.filesTotal = filesTotal_;
    counts.bytesDone = bytesDone_;
    counts.bytesTotal = bytesTotal_;
    return counts;
}

bool TransferProgress::Cancel() {
    std::lock_guard<std::mutex> lock(deciding_);
    if (switchBegun_) return false;
    cancelled_ = true;
    return true;
}

void TransferProgress::BeginSwitch() {
    std::lock_guard<std::mutex> lock(deciding_);
    switchBegun_ = true;
}
