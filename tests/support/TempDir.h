// Real folders for tests: a fresh folder per test, removed afterwards.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    TempDir();  // a new, empty folder under the system's temp folder
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path + "\" + relative (relative may use '\' or '/').
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

void MakeFolder(const std::string& path);  // parents too
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);  // throws when unreadable
std::string ReadFileOr(const std::string& path, const std::string& otherwise);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
unsigned long Attributes(const std::string& path);  // INVALID_FILE_ATTRIBUTES when missing
void RemoveTree(const std::string& path);        // best effort, also read-only entries

// Every file and folder below `root`, as relative paths (UTF-8, so that names outside
// the code page show as they are) with file sizes, sorted.
struct TreeEntry {
    std::string relative;
    bool folder;
    unsigned long long size;
    unsigned long attributes;      // read-only, hidden and system
    unsigned long long written;    // last-write time of a file; 0 for a folder
    bool operator==(const TreeEntry& o) const {
        return relative == o.relative && folder == o.folder && size == o.size;
    }
};
std::vector<TreeEntry> ListTree(const std::string& root);
// Byte-for-byte equal trees: the same entries and the same file contents.
bool SameTree(const std::string& a, const std::string& b, std::string* firstDifference = nullptr);
// The same, and every entry with the same attributes and every file with the same
// last-write time: what a full copy gives.
bool SameTreeExactly(const std::string& a, const std::string& b, std::string* firstDifference = nullptr);
// Copies the tree at `from` to `to` (made anew), files with their attributes and times:
// a snapshot of the folders as they are at one moment.
void CopyTree(const std::string& from, const std::string& to);

// A symbolic link at `link` to the folder or file `target`, as a user or another program
// might put one into the data: CreateSymbolicLinkW where it makes one (Windows), else
// `ln -s` on the Unix side (Wine 8's CreateSymbolicLinkW answers success and makes
// nothing). Waits until the link is seen; false when no link could be made.
bool MakeLink(const std::string& link, const std::string& target, bool folder);
// Removes such a link itself: under Wine every Windows call that deletes a link deletes
// what it points to, so this goes through the Unix side there.
void RemoveLink(const std::string& link);

// "\\<server>\share" as another name of `folder`, as a network share would name it, for as
// long as this lives. Wine maps such a name to <prefix>\dosdevices\unc\<server>\share, where
// a link can point at any folder; the system then calls it a remote drive.
class ShareAlias {
public:
    explicit ShareAlias(const std::string& folder);
    ~ShareAlias();
    ShareAlias(const ShareAlias&) = delete;
    ShareAlias& operator=(const ShareAlias&) = delete;

    bool Made() const { return made_; }
    const std::string& Unc() const { return unc_; }  // "\\<server>\share"

private:
    std::string unc_;
    std::string serverFolder_;  // the Unix folder that holds the link
    bool made_ = false;
};

// A file in `folder` whose name is given in UTF-8 (any script); parents are made.
void WriteFileUtf8(const std::string& folder, const std::string& utf8Name, const std::string& content);

}  // namespace testsupport
