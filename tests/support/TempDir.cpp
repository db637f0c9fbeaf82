#include "support/TempDir.h"

#include "shell/Wintools.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

std::string Normalised(std::string p) {
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return "";
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// Listed with the wide calls, so that names outside the code page are seen as they are.
void ListInto(const std::wstring& root, const std::wstring& relative, std::vector<TreeEntry>& out,
              std::vector<std::wstring>& paths) {
    WIN32_FIND_DATAW data;
    const std::wstring folder = relative.empty() ? root : root + L"\\" + relative;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring rel = relative.empty() ? name : relative + L"\\" + name;
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const unsigned long long size =
            isFolder ? 0 : (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        const unsigned long long written =
            (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        const unsigned long kept = data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        out.push_back({Utf8(rel), isFolder, size, kept, isFolder ? 0 : written});
        paths.push_back(folder + L"\\" + name);
        if (isFolder) ListInto(root, rel, out, paths);
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

bool SameContent(const std::wstring& a, const std::wstring& b) {
    HANDLE fa = CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE fb = CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        DWORD na = 0, nb = 0;
        same = ::ReadFile(fa, ba.data(), static_cast<DWORD>(ba.size()), &na, nullptr) &&
               ::ReadFile(fb, bb.data(), static_cast<DWORD>(bb.size()), &nb, nullptr) && na == nb &&
               std::equal(ba.begin(), ba.begin() + na, bb.begin());
        if (na == 0) break;
    }
    if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
    if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
    return same;
}

struct Listing {
    std::vector<TreeEntry> entries;
    std::vector<std::wstring> paths;  // full wide paths, in the order of `entries`
};

Listing ListSorted(const std::string& root) {
    Listing raw;
    ListInto(Widen(Normalised(root)), L"", raw.entries, raw.paths);
    std::vector<size_t> order(raw.entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t x, size_t y) { return raw.entries[x].relative < raw.entries[y].relative; });
    Listing sorted;
    for (size_t i : order) {
        sorted.entries.push_back(raw.entries[i]);
        sorted.paths.push_back(raw.paths[i]);
    }
    return sorted;
}

bool CompareTrees(const std::string& a, const std::string& b, bool withAttributesAndTimes, std::string* firstDifference) {
    const Listing la = ListSorted(a), lb = ListSorted(b);
    const auto& ea = la.entries;
    const auto& eb = lb.entries;
    auto note = [&](const std::string& what) {
        if (firstDifference) *firstDifference = what;
        return false;
    };
    if (ea.size() != eb.size()) return note("entry count " + std::to_string(ea.size()) + " vs " + std::to_string(eb.size()));
    for (size_t i = 0; i < ea.size(); ++i) {
        if (!(ea[i] == eb[i])) return note(ea[i].relative + " vs " + eb[i].relative);
        if (withAttributesAndTimes && ea[i].attributes != eb[i].attributes) return note("attributes of " + ea[i].relative);
        if (withAttributesAndTimes && ea[i].written != eb[i].written) return note("time of " + ea[i].relative);
        if (!ea[i].folder && !SameContent(la.paths[i], lb.paths[i])) return note("content of " + ea[i].relative);
    }
    return true;
}

}  // namespace

TempDir::TempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        std::ostringstream name;
        name << base << "cvl" << GetCurrentProcessId() << "_" << counter++;
        if (CreateDirectoryA(name.str().c_str(), nullptr)) {
            path_ = name.str();
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a temp folder");
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string TempDir::operator/(const std::string& relative) const { return path_ + "\\" + Normalised(relative); }

void MakeFolder(const std::string& path) {
    const std::string p = Normalised(path);
    for (size_t i = 3; i <= p.size(); ++i)
        if (i == p.size() || p[i] == '\\') CreateDirectoryA(p.substr(0, i).c_str(), nullptr);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(Normalised(path), std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(Normalised(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string ReadFileOr(const std::string& path, const std::string& otherwise) {
    std::ifstream in(Normalised(path), std::ios::binary);
    if (!in) return otherwise;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) { return GetFileAttributesA(Normalised(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string& path) {
    const DWORD a = GetFileAttributesA(Normalised(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

unsigned long Attributes(const std::string& path) { return GetFileAttributesA(Normalised(path).c_str()); }

namespace {

void RemoveLinkW(const std::wstring& p);

void RemoveTreeW(const std::wstring& p) {
    const DWORD a = GetFileAttributesW(p.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLinkW(p);  // never what it points to
    SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(p.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((p + L"\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name != L"." && name != L"..") RemoveTreeW(p + L"\\" + name);
        } while (FindNextFileW(h, &data));
        FindClose(h);
    }
    RemoveDirectoryW(p.c_str());
}

// Wine's own name of a path on the Unix side; empty on Windows.
std::string UnixName(const std::wstring& path) {
    using UnixNameCall = char*(CDECL*)(LPCWSTR);
    const auto call = reinterpret_cast<UnixNameCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!call) return "";
    char* name = call(path.c_str());
    if (!name) return "";
    std::string unix = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unix;
}

// Runs a Unix program through Wine (it starts ELF programs as it starts Windows ones).
bool RunUnix(const std::string& commandLine) {
    std::string line = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// Wine's process end comes before the Unix program's work is seen: wait for the result.
bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
}

void RemoveLinkW(const std::wstring& p) {
    const std::string unix = UnixName(p);
    if (unix.empty()) {
        const DWORD a = GetFileAttributesW(p.c_str());
        (a & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(p.c_str()) : DeleteFileW(p.c_str());
        return;
    }
    RunUnix("Z:\\bin\\rm -f \"" + unix + "\"");
    WaitUntil([&] { return GetFileAttributesW(p.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

void CopyTreeW(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTreeW(from + L"\\" + name, to + L"\\" + name);
        else if (!CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE))
            throw std::runtime_error("cannot copy " + Utf8(from + L"\\" + name));
    } while (FindNextFileW(h, &data));
    FindClose(h);
}

}  // namespace

void RemoveTree(const std::string& path) { RemoveTreeW(Widen(Normalised(path))); }

void CopyTree(const std::string& from, const std::string& to) {
    RemoveTree(to);
    MakeFolder(to);
    CopyTreeW(Widen(Normalised(from)), Widen(Normalised(to)));
}

bool MakeLink(const std::string& link, const std::string& target, bool folder) {
    const std::wstring at = Widen(Normalised(link)), to = Widen(Normalised(target));
    const auto made = [&] {
        const DWORD a = GetFileAttributesW(at.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (!folder || (a & FILE_ATTRIBUTE_REPARSE_POINT));
    };
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | 0x2;  // unprivileged create
    if (CreateSymbolicLinkW(at.c_str(), to.c_str(), flags) && made()) return true;
    const std::string unixLink = UnixName(at), unixTarget = UnixName(to);
    if (unixLink.empty() || unixTarget.empty()) return false;
    return RunUnix("Z:\\bin\\ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") && WaitUntil(made);
}

void RemoveLink(const std::string& link) { RemoveLinkW(Widen(Normalised(link))); }

namespace {

// <prefix>/dosdevices, found from where drive C: lives on the Unix side.
std::string DosDevices() {
    std::string c = UnixName(L"C:\\");
    const size_t devices = c.find("/dosdevices/");
    if (devices != std::string::npos) return c.substr(0, devices + 11);
    const size_t drive = c.find("/drive_c");
    if (drive != std::string::npos) return c.substr(0, drive) + "/dosdevices";
    return "";
}

}  // namespace

ShareAlias::ShareAlias(const std::string& folder) {
    static int counter = 0;
    const std::string server = "cvshare" + std::to_string(GetCurrentProcessId()) + "x" + std::to_string(++counter);
    unc_ = "\\\\" + server + "\\share";
    const std::string devices = DosDevices(), target = UnixName(Widen(Normalised(folder)));
    if (devices.empty() || target.empty()) return;
    serverFolder_ = devices + "/unc/" + server;
    RunUnix("Z:\\bin\\mkdir -p \"" + serverFolder_ + "\"");
    RunUnix("Z:\\bin\\ln -s \"" + target + "\" \"" + serverFolder_ + "/share\"");
    made_ = WaitUntil([&] { return GetFileAttributesA(unc_.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

ShareAlias::~ShareAlias() {
    if (serverFolder_.empty()) return;
    RunUnix("Z:\\bin\\rm -rf \"" + serverFolder_ + "\"");
}

std::vector<TreeEntry> ListTree(const std::string& root) { return ListSorted(root).entries; }

bool SameTree(const std::string& a, const std::string& b, std::string* firstDifference) {
    return CompareTrees(a, b, false, firstDifference);
}

bool SameTreeExactly(const std::string& a, const std::string& b, std::string* firstDifference) {
    return CompareTrees(a, b, true, firstDifference);
}

void WriteFileUtf8(const std::string& folder, const std::string& utf8Name, const std::string& content) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8Name.data(), static_cast<int>(utf8Name.size()), nullptr, 0);
    std::wstring name(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8Name.data(), static_cast<int>(utf8Name.size()), &name[0], n);
    const std::wstring path = Widen(Normalised(folder)) + L"\\" + name;
    for (size_t i = 0; i < path.size(); ++i)
        if (path[i] == L'\\' && i > 2) CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + utf8Name);
    DWORD written = 0;
    ::WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
}

}  // namespace testsupport
