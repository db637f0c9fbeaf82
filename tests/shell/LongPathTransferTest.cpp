// Trees whose paths reach or pass MAX_PATH: the transfer's working names (".saved",
// ".next", ".next.undo") are longer than the data's own, so a tree that fits must still
// go through every step. The fixtures are made and read through the "\\?\"
// form here, as a long-path-aware program would make them.
#include "ShellTestKit.h"
#include "shell/FileSystem.h"
#include "shell/Handles.h"
#include "shell/Wintools.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace testsupport;
using namespace shelltest;

namespace {

std::wstring Long(const std::string& path) { return L"\\\\?\\" + Widen(path); }

bool ExistsLong(const std::string& path) { return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void MakeFolderLong(const std::string& path) {
    const bool made = CreateDirectoryW(Long(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    ASSERT_TRUE(made) << path.size() << " " << path << " (" << SystemErrorName(GetLastError()) << ")";
}

void WriteFileLong(const std::string& path, const std::string& content) {
    KernelHandle file(CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file) << path << " (" << SystemErrorName(GetLastError()) << ")";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
}

std::string ReadFileLong(const std::string& path) {
    KernelHandle file(CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return "<unreadable>";
    char buffer[4096];
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return "<unreadable>";
    return std::string(buffer, read);
}

// Relative name -> content ("<folder>" for a folder); empty when the root is missing.
using Contents = std::map<std::string, std::string>;

void ReadInto(const std::string& root, const std::string& relative, Contents& contents) {
    const std::string folder = relative.empty() ? root : root + "\\" + relative;
    WIN32_FIND_DATAW data;
    FindHandle search(FindFirstFileW((Long(folder) + L"\\*").c_str(), &data));
    if (!search) return;
    do {
        const std::string name = Narrow(data.cFileName);
        if (name == "." || name == "..") continue;
        const std::string entry = relative.empty() ? name : relative + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            contents[entry] = "<folder>";
            ReadInto(root, entry, contents);
        } else {
            contents[entry] = ReadFileLong(root + "\\" + entry);
        }
    } while (FindNextFileW(search.Get(), &data));
}

Contents ReadTreeLong(const std::string& root) {
    Contents contents;
    ReadInto(root, "", contents);
    return contents;
}

// Best effort, deepest first: the test support's own delete is not held to long paths.
void RemoveTreeLong(const std::string& root) {
    const Contents contents = ReadTreeLong(root);
    for (auto it = contents.rbegin(); it != contents.rend(); ++it) {
        const std::wstring path = Long(root + "\\" + it->first);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (it->second == "<folder>")
            RemoveDirectoryW(path.c_str());
        else
            DeleteFileW(path.c_str());
    }
    RemoveDirectoryW(Long(root).c_str());
}

// A name of `length` characters, told apart by its first letter.
std::string Name(size_t length, int n) { return std::string(1, static_cast<char>('a' + n % 26)) + std::string(length - 1, 'x'); }

// Folder names that make "<base>\<names>" exactly `length` characters long.
std::string FoldersTo(const std::string& base, size_t length) {
    std::string relative;
    for (int n = 0; base.size() + 1 + relative.size() < length; ++n) {
        const size_t room = length - base.size() - 1 - relative.size() - (relative.empty() ? 0 : 1);
        relative += (relative.empty() ? "" : "\\") + Name(std::min<size_t>(room, 40), n);
    }
    return relative;
}

// A data tree: a file at its top, one on the way down, and the deepest file, whose full
// path is `fileLength` characters in a folder of `folderLength`.
struct Layout {
    std::string deepFolder;  // relative to the root
    std::string middleFile;
    std::string deepFile;
};

Layout LayoutFor(size_t rootLength, size_t folderLength, size_t fileLength) {
    Layout layout;
    const std::string root(rootLength, 'r');
    layout.deepFolder = FoldersTo(root, folderLength);
    layout.middleFile = layout.deepFolder.substr(0, layout.deepFolder.find('\\')) + "\\middle.txt";
    const size_t nameLength = fileLength - folderLength - 1;
    layout.deepFile = layout.deepFolder + "\\d" + std::string(nameLength - 5, 'x') + ".txt";
    return layout;
}

void MakeDataTree(const std::string& root, const Layout& layout, const std::string& tag) {
    MakeFolderLong(root);
    std::string folder = root;
    for (size_t at = 0; at != std::string::npos;) {
        const size_t next = layout.deepFolder.find('\\', at);
        folder = root + "\\" + layout.deepFolder.substr(0, next);
        MakeFolderLong(folder);
        at = next == std::string::npos ? next : next + 1;
    }
    WriteFileLong(root + "\\top.txt", "top " + tag);
    WriteFileLong(root + "\\" + layout.middleFile, "middle " + tag);
    WriteFileLong(root + "\\" + layout.deepFile, "deep " + tag);
}

std::string Shown(const Messages& messages) {
    std::string text;
    for (const auto& message : messages) text += message.title + ": " + message.text + "\n";
    return text;
}

// A program that holds the file or folder open, sharing nothing.
KernelHandle HoldOpen(const std::string& path) {
    return KernelHandle(CreateFileW(Long(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

class LongPaths : public ::testing::Test {
protected:
    void TearDown() override { RemoveTreeLong(dir / "p"); }
    TempDir dir;
};

// Every call that a plain path would take past MAX_PATH got the long form, and the shell
// (which stops there) got no path that long.
void ExpectCallsFitTheSystem(const FileCopies& copies, const ShellCalls& shell, bool someAreLong) {
    bool sawLong = false;
    for (const auto& copy : copies.Copies()) {
        for (const auto& [shown, called] : {std::make_pair(copy.from, copy.calledFrom), std::make_pair(copy.to, copy.calledTo)}) {
            if (shown.size() < MAX_PATH) continue;
            sawLong = true;
            EXPECT_EQ(called.rfind(L"\\\\?\\", 0), 0u) << shown;
        }
    }
    EXPECT_EQ(sawLong, someAreLong);
    for (const auto& call : shell.Calls()) {
        EXPECT_LT(call.from.size(), static_cast<size_t>(MAX_PATH)) << call.from;
        EXPECT_LT(call.to.size(), static_cast<size_t>(MAX_PATH)) << call.to;
    }
}

TEST_F(LongPaths, ATreeNearOrPastTheLimitGoesThroughEveryStep) {
    const struct Case {
        const char* what;
        size_t rootLength;  // of the data folders themselves; 0: short
        size_t folderLength, fileLength;  // the deepest folder and file, in full
        bool renamedByShell;
    } cases[] = {
        // The data fits (folders under 248, files under 260); its transient names do not.
        {"deepest file a few characters under MAX_PATH", 0, 240, 256, true},
        {"paths well over MAX_PATH", 0, 400, 430, true},
        {"data folders themselves past MAX_PATH", 280, 460, 490, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTreeLong(dir / "p");
        std::string parent = dir / "p";
        MakeFolderLong(parent);
        if (c.rootLength) {
            parent += "\\" + FoldersTo(parent, c.rootLength - 7);
            std::string made = dir / "p";
            const std::string relative = parent.substr(made.size() + 1);
            for (size_t at = 0; at != std::string::npos;) {
                const size_t next = relative.find('\\', at);
                MakeFolderLong(made + "\\" + relative.substr(0, next));
                at = next == std::string::npos ? next : next + 1;
            }
        }
        const std::string source = parent + "\\S\\Data", destination = parent + "\\W\\Data";
        const std::string save = destination + ".saved", next = destination + ".next";
        const std::string undo = next + ".undo", incoming = destination + ".incoming";
        MakeFolderLong(parent + "\\S");
        MakeFolderLong(parent + "\\W");
        const Layout layout = LayoutFor(destination.size(), c.folderLength, c.fileLength);
        ASSERT_EQ((destination + "\\" + layout.deepFile).size(), c.fileLength);
        MakeDataTree(source, layout, "shared 1");
        MakeDataTree(destination, layout, "local");
        const Contents local = ReadTreeLong(destination), shared1 = ReadTreeLong(source);
        ASSERT_EQ(shared1.size(), local.size());
        const auto noTransientLeft = [&] {
            return !ExistsLong(next) && !ExistsLong(undo) && !ExistsLong(next + ".journal") &&
                   !ExistsLong(next + ".check") && !ExistsLong(incoming);
        };

        {
            FileCopies copies;
            ShellCalls shell;
            const TransferResult first = TransferTree(source, destination);
            ASSERT_TRUE(first.ok) << Shown(first.messages);
            EXPECT_EQ(ReadTreeLong(destination), shared1);
            EXPECT_EQ(ReadTreeLong(save), local);
            EXPECT_TRUE(noTransientLeft());
            ExpectCallsFitTheSystem(copies, shell, true);
            EXPECT_EQ(shell.Functions().size(), c.renamedByShell ? 2u : 0u);
        }

        WriteFileLong(source + "\\" + layout.deepFile, "deep shared 2, a longer file");
        WriteFileLong(source + "\\" + layout.deepFolder + "\\new.txt", "new");
        const Contents shared2 = ReadTreeLong(source);

        // A changed source file that cannot be read is named as the user knows the path.
        {
            KernelHandle held = HoldOpen(source + "\\" + layout.deepFile);
            ASSERT_TRUE(held);
            const TransferResult refused = TransferTree(source, destination);
            EXPECT_FALSE(refused.ok);
            const std::string shown = Shown(refused.messages);
            EXPECT_NE(shown.find(source + "\\" + layout.deepFile), std::string::npos) << shown;
            EXPECT_EQ(shown.find("\\\\?\\"), std::string::npos) << shown;
            EXPECT_EQ(ReadTreeLong(destination), shared1);
            EXPECT_TRUE(noTransientLeft());
        }

        // A rename refused in the switch is worded as the shell's refusal is, and the save
        // is put back.
        {
            KernelHandle held = HoldOpen(destination);
            ASSERT_TRUE(held);
            const TransferResult refused = TransferTree(source, destination);
            EXPECT_FALSE(refused.ok);
            ASSERT_EQ(refused.messages.size(), 2u) << Shown(refused.messages);
            EXPECT_EQ(refused.messages[0].title, "renaming");
            if (!c.renamedByShell) EXPECT_EQ(refused.messages[0].text, "ERROR SHARING VIOLATION");
            EXPECT_EQ(refused.messages[1].title, "Renaming folder to save");
            EXPECT_EQ(refused.messages[1].text, "Error occuried during rename");
        }
        EXPECT_EQ(ReadTreeLong(destination), shared1);
        EXPECT_EQ(ReadTreeLong(save), local);
        EXPECT_TRUE(noTransientLeft());

        // Again, with a save in place: it becomes the next tree, its changed files taken
        // out into the undo folder, whose names are the longest of all.
        {
            FileCopies copies;
            ShellCalls shell;
            const TransferResult second = TransferTree(source, destination);
            ASSERT_TRUE(second.ok) << Shown(second.messages);
            EXPECT_EQ(ReadTreeLong(destination), shared2);
            EXPECT_EQ(ReadTreeLong(save), shared1);
            EXPECT_TRUE(noTransientLeft());
            ExpectCallsFitTheSystem(copies, shell, true);
            EXPECT_EQ(shell.Functions().size(), c.renamedByShell ? 3u : 0u);
        }

        // A next tree cut short by a crash is put back into the save by the repair, and
        // an earlier version's copy cut short is deleted.
        WriteFileLong(source + "\\" + layout.deepFile, "deep shared 3");
        {
            FileCopies copies;
            copies.SetHandler([&](const FileCopies::Call&) { return CancelCopy(); });
            const TransferResult cut = TransferTree(source, destination);
            EXPECT_FALSE(cut.ok);
        }
        EXPECT_TRUE(ExistsLong(save));
        ASSERT_TRUE(MoveFileExW(Long(save).c_str(), Long(next).c_str(), 0));
        MakeDataTree(incoming, layout, "half");
        EXPECT_TRUE(TransferInterrupted(destination));
        const RepairResult repair = RepairTransfer(destination);
        EXPECT_TRUE(repair.ok) << Shown(repair.messages);
        EXPECT_TRUE(noTransientLeft());
        EXPECT_EQ(ReadTreeLong(destination), shared2);
        EXPECT_EQ(ReadTreeLong(save), shared1);

        // Set aside whole, and the open file named as the user knows the path.
        const SetAsideResult aside = SetTreeAside(destination, FreeAsideFolder(destination));
        ASSERT_TRUE(aside.ok) << Shown(aside.messages);
        EXPECT_EQ(ReadTreeLong(aside.folder), shared2);
        {
            KernelHandle held = HoldOpen(destination + "\\" + layout.deepFile);
            ASSERT_TRUE(held);
            std::string inUse;
            EXPECT_TRUE(FirstFileInUse(destination.c_str(), inUse));
            EXPECT_EQ(inUse, destination + "\\" + layout.deepFile);
        }
        std::string inUse;
        EXPECT_FALSE(FirstFileInUse(destination.c_str(), inUse)) << inUse;

        for (const auto& tree : {destination, save, aside.folder}) {
            EXPECT_TRUE(RemoveTreeDirect(Widen(tree)).ok) << tree;
            EXPECT_FALSE(ExistsLong(tree)) << tree;
        }
    }
}

}  // namespace
