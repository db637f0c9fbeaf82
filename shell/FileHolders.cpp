#include "shell/FileHolders.h"

#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <restartmanager.h>

#include <algorithm>

namespace {

// A file this process holds open while a look proves it can see open files at all.
class HeldProbeFile {
public:
    HeldProbeFile() {
        wchar_t folder[MAX_PATH + 1] = L"", name[MAX_PATH + 1] = L"";
        if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"cvl", 0, name)) return;
        file_.Reset(CreateFileW(name, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file_) path_ = name;
        else DeleteFileW(name);
    }
    const std::wstring& Path() const { return path_; }
    HANDLE Get() const { return file_.Get(); }

private:
    KernelHandle file_;
    std::wstring path_;
};

// ---- Restart Manager -------------------------------------------------------------
// Loaded when first needed, so that the program starts where rstrtmgr.dll is missing.
struct RestartManager {
    decltype(&RmStartSession) start = nullptr;
    decltype(&RmRegisterResources) registerResources = nullptr;
    decltype(&RmGetList) getList = nullptr;
    decltype(&RmEndSession) end = nullptr;
    explicit operator bool() const { return start && registerResources && getList && end; }
};

const RestartManager& Rm() {
    static const RestartManager rm = [] {
        RestartManager r;
        // Never unloaded: the process may ask again at any time.
        if (HMODULE dll = LoadLibraryW(L"rstrtmgr.dll")) {
            r.start = reinterpret_cast<decltype(r.start)>(GetProcAddress(dll, "RmStartSession"));
            r.registerResources = reinterpret_cast<decltype(r.registerResources)>(GetProcAddress(dll, "RmRegisterResources"));
            r.getList = reinterpret_cast<decltype(r.getList)>(GetProcAddress(dll, "RmGetList"));
            r.end = reinterpret_cast<decltype(r.end)>(GetProcAddress(dll, "RmEndSession"));
        }
        return r;
    }();
    return rm;
}

class RmSession {
public:
    RmSession() {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        open_ = Rm().start(&handle_, 0, key) == ERROR_SUCCESS;
    }
    ~RmSession() {
        if (open_) Rm().end(handle_);
    }
    RmSession(const RmSession&) = delete;
    RmSession& operator=(const RmSession&) = delete;
    explicit operator bool() const { return open_; }
    DWORD Get() const { return handle_; }

private:
    DWORD handle_ = 0;
    bool open_ = false;
};

// The processes using any of paths[begin, end); false when the Restart Manager cannot say
// (it also says so when it could not look into some process).
bool RmUsers(const std::vector<std::wstring>& paths, size_t begin, size_t end, std::vector<DWORD>& users) {
    RmSession session;
    if (!session) return false;
    std::vector<LPCWSTR> names;
    for (size_t i = begin; i < end; ++i) names.push_back(paths[i].c_str());
    if (Rm().registerResources(session.Get(), static_cast<UINT>(names.size()), names.data(), 0, nullptr, 0, nullptr) !=
        ERROR_SUCCESS)
        return false;
    std::vector<RM_PROCESS_INFO> info(8);
    for (int attempt = 0; attempt < 4; ++attempt) {
        UINT needed = 0, count = static_cast<UINT>(info.size());
        DWORD reasons = RmRebootReasonNone;
        const DWORD status = Rm().getList(session.Get(), &needed, &count, info.data(), &reasons);
        if (status == ERROR_MORE_DATA) {  // more users than room: they may still be coming
            info.resize(needed + 8);
            continue;
        }
        if (status != ERROR_SUCCESS || (reasons & RmRebootReasonPermissionDenied)) return false;
        users.clear();
        for (UINT i = 0; i < count; ++i) users.push_back(info[i].Process.dwProcessId);
        return true;
    }
    return false;
}

// The Restart Manager tells users per session, not per file: halve the range until one
// file is left. Unknown when it cannot say, None when the holder let go meanwhile.
Holders RmNarrow(const std::vector<std::wstring>& paths, size_t begin, size_t end, size_t& first) {
    if (end - begin == 1) {
        first = begin;
        return Holders::Found;
    }
    const size_t middle = begin + (end - begin) / 2;
    for (const auto& [from, to] : {std::pair{begin, middle}, std::pair{middle, end}}) {
        std::vector<DWORD> users;
        if (!RmUsers(paths, from, to, users)) return Holders::Unknown;
        const bool others = std::any_of(users.begin(), users.end(), [](DWORD p) { return p != GetCurrentProcessId(); });
        if (others) return RmNarrow(paths, from, to, first);
    }
    return Holders::None;
}

bool RmTrusted() {
    static const bool trusted = [] {
        if (!Rm()) return false;
        HeldProbeFile held;
        std::vector<DWORD> users;
        return held.Get() && RmUsers({held.Path()}, 0, 1, users) &&
               std::find(users.begin(), users.end(), GetCurrentProcessId()) != users.end();
    }();
    return trusted;
}

}  // namespace

Holders RestartManagerFirstHeld(const std::vector<std::wstring>& paths, size_t begin, size_t end, size_t& first) {
    if (begin >= end) return Holders::None;
    if (!RmTrusted()) return Holders::Unknown;
    std::vector<DWORD> users;
    if (!RmUsers(paths, begin, end, users)) return Holders::Unknown;
    const bool others = std::any_of(users.begin(), users.end(), [](DWORD p) { return p != GetCurrentProcessId(); });
    return others ? RmNarrow(paths, begin, end, first) : Holders::None;
}
