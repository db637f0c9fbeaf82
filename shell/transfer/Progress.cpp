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
    int expected = kCopying;
    return stage_.compare_exchange_strong(expected, kCancelled) || expected == kCancelled;
}

bool TransferProgress::BeginSwitch() {
    int expected = kCopying;
    return stage_.compare_exchange_strong(expected, kSwitching) || expected == kSwitching;
}
