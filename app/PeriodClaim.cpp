#include "app/PeriodClaim.h"

#include "shell/Wintools.h"

#include <cstdio>
#include <vector>

namespace {

// The same folder however it was written: full, long names, one letter case, no
// trailing separator.
std::string FoldedFolder(const std::string& folder) {
    std::string full = FullPathOf(folder);
    std::vector<char> longName(32768);
    const DWORD n = GetLongPathNameA(full.c_str(), longName.data(), static_cast<DWORD>(longName.size()));
    if (n > 0 && n < longName.size()) full.assign(longName.data(), n);
    while (full.size() > 3 && (full.back() == '\\' || full.back() == '/')) full.pop_back();
    if (!full.empty()) CharUpperBuffA(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

// A kernel object name holds no backslash and has a limited length: the folder's hash.
// Global, so that another user's session on this PC sees it too.
std::string ClaimName(const char* space, const std::string& folded) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : folded) {
        hash ^= (c == '/' ? '\\' : c);
        hash *= 1099511628211ull;  // FNV-1a
    }
    char name[64];
    std::snprintf(name, sizeof name, "%s\\Carvelund.period.%016llx", space, static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

bool PeriodClaim::Take(const std::string& localFolder) {
    const std::string folded = FoldedFolder(localFolder);
    KernelHandle mutex(CreateMutexA(nullptr, FALSE, ClaimName("Global", folded).c_str()));
    if (!mutex) mutex.Reset(CreateMutexA(nullptr, FALSE, ClaimName("Local", folded).c_str()));
    // Without the object there is no way to tell: the start goes on as it always did.
    if (!mutex) return true;
    const DWORD waited = WaitForSingleObject(mutex.Get(), 0);
    // Abandoned: its holder ended without letting go (killed, crashed); ours now.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    mutex_ = std::move(mutex);
    return true;
}
