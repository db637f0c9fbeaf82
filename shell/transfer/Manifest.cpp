// The manifest beside a transfer's destination: for each file of the tree the transfer
// built, the file as it was left (file ID, change time) and the content token it was
// given. A file still so carries that token; one written since (its change time moves,
// even when a program puts the last-write time back) carries its own. The manifest
// names the tree's root folder, so one left beside another tree is ignored.
#include "shell/transfer/Parts.h"

#include "shell/Handles.h"
#include "shell/Wintools.h"

#include <cstdio>
#include <cstdlib>
#include <cwctype>

namespace {

constexpr char kFirstLine[] = "Carvelund manifest 1";


// FAT and exFAT keep no change time: a file written there with its time put back would
// look untouched.
bool KeepsChangeTimes(const wchar_t* fileSystem) {
    std::wstring name(fileSystem);
    for (auto& c : name) c = static_cast<wchar_t>(towupper(c));
    return !name.empty() && name.rfind(L"FAT", 0) != 0 && name != L"EXFAT";
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

// One file as the manifest recorded it.
struct Recorded {
    uint64_t fileId = 0;
    uint64_t changed = 0;
    ContentToken token;
};

struct Manifest {
    uint32_t volume = 0;
    uint64_t root = 0;
    std::map<std::wstring, Recorded> files;  // by folded name
};

bool ReadWholeFile(const std::string& path, std::string& content) {
    KernelHandle file(CreateFileW(LongPathForm(Widen(path)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 256 * 1024 * 1024) return false;
    content.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return content.empty() ||
           (::ReadFile(file.Get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr) &&
            read == content.size());
}

// Reads `count` hexadecimal numbers separated by blanks from `line` at `at`.
bool Numbers(const std::string& line, size_t& at, uint64_t* values, int count) {
    for (int i = 0; i < count; ++i) {
        const char* start = line.c_str() + at;
        char* end = nullptr;
        values[i] = std::strtoull(start, &end, 16);
        if (end == start || *end != ' ') return false;
        at += static_cast<size_t>(end - start) + 1;
    }
    return true;
}

// The manifest as written, or nothing: a torn or foreign file vouches for no file.
bool ReadManifest(const std::string& path, Manifest& manifest) {
    std::string content;
    if (!ReadWholeFile(path, content)) return false;
    std::vector<std::string> lines;
    for (size_t at = 0; at < content.size();) {
        const size_t end = content.find('\n', at);
        if (end == std::string::npos) return false;  // every line ends, the last one too
        lines.push_back(content.substr(at, end - at));
        at = end + 1;
    }
    if (lines.size() < 3 || lines[0] != kFirstLine) return false;
    uint64_t tree[2];
    size_t at = 5;
    if (lines[1].rfind("tree ", 0) != 0 || !Numbers(lines[1] + " ", at, tree, 2)) return false;
    manifest.volume = static_cast<uint32_t>(tree[0]);
    manifest.root = tree[1];
    const size_t files = lines.size() - 3;
    if (lines.back() != "end " + std::to_string(files)) return false;
    for (size_t i = 2; i < lines.size() - 1; ++i) {
        uint64_t v[5];
        at = 0;
        if (!Numbers(lines[i], at, v, 5) || at >= lines[i].size()) return false;
        Recorded recorded{v[0], v[1], {static_cast<uint32_t>(v[2]), v[3], v[4]}};
        manifest.files[FoldedName(FromUtf8(lines[i].substr(at)))] = recorded;
    }
    return true;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

// Written under another name, flushed and renamed over the old one: a manifest that is
// there is whole.
bool WriteReplacing(const std::string& path, const std::string& content) {
    const std::wstring target = LongPathForm(Widen(path)), written = LongPathForm(Widen(path + ".new"));
    {
        KernelHandle file(CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        if (!file || !::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr) ||
            done != content.size() || !FlushFileBuffers(file.Get())) {
            file.Reset();
            DeleteFileW(written.c_str());
            return false;
        }
    }
    if (MoveFileExW(written.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(written.c_str());
    return false;
}

}  // namespace

ContentTokens CurrentTokens(const std::string& root, const std::vector<TreeEntry>& entries) {
    ContentTokens tokens;
    TreeIdentity tree;
    if (!IdentifyTree(root, tree) || !tree.keepsChangeTimes) return tokens;
    const TransferNames names(root);
    Manifest manifest;
    // "X\" would name a file inside the tree: such a tree has no manifest.
    if (names.EndsInSeparator() || !ReadManifest(names.manifest, manifest) || manifest.volume != tree.volume ||
        manifest.root != tree.root)
        manifest.files.clear();
    for (const auto& entry : entries) {
        const uint64_t changed = TimeValue(entry.changed);
        if (entry.folder || !entry.fileId || !changed) continue;
        const std::wstring name = FoldedName(entry.relative);
        const auto recorded = manifest.files.find(name);
        if (recorded != manifest.files.end() && recorded->second.fileId == entry.fileId &&
            recorded->second.changed == changed)
            tokens[name] = recorded->second.token;
        else
            tokens[name] = {tree.volume, entry.fileId, changed};
    }
    return tokens;
}

bool IdentifyTree(const std::string& root, TreeIdentity& identity) {
    KernelHandle folder(CreateFileW(LongPathForm(Widen(root)).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !GetFileInformationByHandle(folder.Get(), &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.root = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    wchar_t fileSystem[MAX_PATH + 1] = L"";
    identity.keepsChangeTimes = GetVolumeInformationByHandleW(folder.Get(), nullptr, 0, nullptr, nullptr, nullptr,
                                                              fileSystem, MAX_PATH + 1) &&
                                KeepsChangeTimes(fileSystem);
    return identity.root != 0;
}

bool WriteManifest(const TransferNames& names, const ContentTokens& given, const TreeIdentity& tree) {
    TreeIdentity now;
    std::vector<TreeEntry> entries;
    std::string problem;
    // Listed now, after the switch: linking and deleting old trees move change times too.
    // Another tree switched in meanwhile keeps its own manifest; and should it come between
    // this look and the listing, the manifest names this tree's root and is ignored there.
    if (!IdentifyTree(names.destination, now) || now.root != tree.root || now.volume != tree.volume ||
        !ListTree(Widen(names.destination), entries, problem))
        return false;
    std::string content = std::string(kFirstLine) + "\ntree " + Hex(tree.volume) + " " + Hex(tree.root) + "\n";
    size_t files = 0;
    for (const auto& entry : entries) {
        const auto token = given.find(FoldedName(entry.relative));
        if (entry.folder || token == given.end() || !entry.fileId || !TimeValue(entry.changed)) continue;
        content += Hex(entry.fileId) + " " + Hex(TimeValue(entry.changed)) + " " + Hex(token->second.volume) + " " +
                   Hex(token->second.fileId) + " " + Hex(token->second.changed) + " " + Utf8(entry.relative) + "\n";
        ++files;
    }
    content += "end " + std::to_string(files) + "\n";
    return WriteReplacing(names.manifest, content);
}

void KeepManifestWithSave(const TransferNames& names) {
    const std::wstring current = LongPathForm(Widen(names.manifest));
    const std::wstring saved = LongPathForm(Widen(TransferNames(names.save).manifest));
    // A manifest names its tree's root: one left in the wrong place is ignored, never wrong.
    if (!MoveFileExW(current.c_str(), saved.c_str(), MOVEFILE_REPLACE_EXISTING)) DeleteFileW(saved.c_str());
}
