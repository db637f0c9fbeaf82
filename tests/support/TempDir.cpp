#include "support/TempDir.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

std::string Normalised(std::string p) {
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

void ListInto(const std::string& root, const std::string& relative, std::vector<TreeEntry>& out) {
    WIN32_FIND_DATAA data;
    const std::string folder = relative.empty() ? root : root + "\\" + relative;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string rel = relative.empty() ? name : relative + "\\" + name;
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const unsigned long long size =
            isFolder ? 0 : (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        out.push_back({rel, isFolder, size});
        if (isFolder) ListInto(root, rel, out);
    } while (FindNextFileA(h, &data));
    FindClose(h);
}

bool SameContent(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), ba.size());
        fb.read(bb.data(), bb.size());
        if (fa.gcount() != fb.gcount()) return false;
        if (!std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
        if (fa.gcount() == 0 || !fa) return fa.eof() == fb.eof();
    }
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

void RemoveTree(const std::string& path) {
    const std::string p = Normalised(path);
    const DWORD a = GetFileAttributesA(p.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(p.c_str());
        return;
    }
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((p + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != "..") RemoveTree(p + "\\" + name);
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    RemoveDirectoryA(p.c_str());
}

std::vector<TreeEntry> ListTree(const std::string& root) {
    std::vector<TreeEntry> entries;
    ListInto(Normalised(root), "", entries);
    std::sort(entries.begin(), entries.end(),
              [](const TreeEntry& x, const TreeEntry& y) { return x.relative < y.relative; });
    return entries;
}

bool SameTree(const std::string& a, const std::string& b, std::string* firstDifference) {
    const auto ea = ListTree(a), eb = ListTree(b);
    auto note = [&](const std::string& what) {
        if (firstDifference) *firstDifference = what;
        return false;
    };
    if (ea.size() != eb.size()) return note("entry count " + std::to_string(ea.size()) + " vs " + std::to_string(eb.size()));
    for (size_t i = 0; i < ea.size(); ++i) {
        if (!(ea[i] == eb[i])) return note(ea[i].relative + " vs " + eb[i].relative);
        if (!ea[i].folder && !SameContent(Normalised(a) + "\\" + ea[i].relative, Normalised(b) + "\\" + eb[i].relative))
            return note("content of " + ea[i].relative);
    }
    return true;
}

}  // namespace testsupport
