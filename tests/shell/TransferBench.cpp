// Benchmark, not a test: how long TransferTree takes against the shell copy beneath it.
//
//   transfer_bench make    FOLDER [many]    writes the bench tree (about 2,000 files, 210 MB;
//                                           with "many" 20,000 files of the same total size)
//   transfer_bench measure SOURCE WORK RUNS times the bare shell copy and TransferTree
//   transfer_bench changes SOURCE WORK      the full transfer of before against the transfer
//                                           that moves only what changed, for several changes
//   transfer_bench safety  SOURCE WORK      what the safety checks of a period cost
//   transfer_bench flush   SOURCE WORK RUNS a full transfer with the new tree flushed to
//                                           disk before the switch, against one without
//   transfer_bench parallel SOURCE WORK RUNS the local copy and flush of every file on one
//                                           thread against two and four
//
// scripts/bench.d/10-transfer.sh adds `cp -a` of the same tree and prints the ratios.
#include "support/Stopwatch.h"
#include "app/UnsavedWork.h"
#include "shell/TreeListing.h"
#include "shell/FileSystem.h"
#include "shell/Wintools.h"
#include "shell/transfer/Transfer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Failures must not wait for a user: print them instead.
int WINAPI PrintedBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "box: %s: %s\n", caption, text);
    return IDOK;
}

// The transfer, its failure's messages printed as the boxes would show them.
TransferResult Transfer(const std::string& source, const std::string& destination,
                        const TransferOptions& options = {}) {
    TransferResult result = TransferTree(source, destination, nullptr, options);
    for (const Message& message : result.messages)
        std::fprintf(stderr, "box: %s: %s\n", message.title.c_str(), message.text.c_str());
    return result;
}

double Now() { return testsupport::SecondsNow(); }

bool WriteBytes(const std::string& path, size_t size, uint32_t seed) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::vector<uint32_t> block(1 << 16);
    uint32_t x = seed * 2654435761u + 1;
    bool ok = true;
    while (size > 0 && ok) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            w = x;
        }
        const DWORD n = static_cast<DWORD>(std::min(size, block.size() * sizeof(uint32_t)));
        DWORD written = 0;
        ok = ::WriteFile(h, block.data(), n, &written, nullptr) && written == n;
        size -= n;
    }
    CloseHandle(h);
    return ok;
}

// 20 groups of small files in two folder levels, one 1 MB file, and 20 files of 5 MB:
// 99 small files of 4 KB to 96 KB a group, or with `many` 999 of 1 KB to 9 KB, so that
// both trees hold about the same bytes.
int Make(const std::string& root, bool many) {
    const int smallFiles = many ? 999 : 99;
    const size_t minimum = many ? 1024 : 4096, steps = many ? 9 : 93;
    CreateDirectoryA(root.c_str(), nullptr);
    size_t files = 0, bytes = 0;
    for (int g = 0; g < 20; ++g) {
        const std::string group = root + "\\group " + std::to_string(g);
        const std::string inner = group + "\\inner";
        CreateDirectoryA(group.c_str(), nullptr);
        CreateDirectoryA(inner.c_str(), nullptr);
        for (int f = 0; f < smallFiles; ++f) {
            const size_t size = minimum + static_cast<size_t>((g * smallFiles + f) * 7919 % steps) * 1024;
            const std::string folder = f % 3 ? group : inner;
            if (!WriteBytes(folder + "\\file " + std::to_string(f) + ".dat", size, g * 1000 + f)) return 1;
            ++files;
            bytes += size;
        }
        if (g == 0) {
            if (!WriteBytes(group + "\\one megabyte.dat", 1u << 20, 4242)) return 1;
            ++files;
            bytes += 1u << 20;
        }
        const size_t big = 5u << 20;
        if (!WriteBytes(group + "\\big.pdb", big, 99999 + g)) return 1;
        ++files;
        bytes += big;
    }
    std::printf("made %zu files, %.1f MB in %s\n", files, bytes / 1048576.0, root.c_str());
    return 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool ShellCopy(const std::string& source, const std::string& destination) {
    OwnedText from(ConcatText(source.c_str(), "\\*.*"));
    OwnedText to(ConcatText(destination.c_str()));
    CreateDirectoryA(destination.c_str(), nullptr);
    SHFILEOPSTRUCTA op{};
    op.wFunc = FO_COPY;
    op.pFrom = from.Get();
    op.pTo = to.Get();
    op.fFlags = FOF_NOCONFIRMMKDIR | FOF_NOCONFIRMATION;
    return SHFileOperationA(&op) == 0;
}

int Measure(const std::string& source, const std::string& work, int runs) {
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string destination = work + "\\Data";
    OwnedText destinationText(ConcatText(destination.c_str()));
    // Two untimed transfers reach the steady state: destination and save both present.
    CreateDirectoryA(destination.c_str(), nullptr);
    for (int i = 0; i < 2; ++i)
        if (!Transfer(source, destination).ok) return 1;

    // A steady-state transfer is two renames, a copy, the copy check and the delete of
    // the old save: the bare shell delete is timed too, to show where the time goes.
    std::vector<double> shell, remove, transfer;
    for (int i = 0; i < runs; ++i) {
        const std::string copy = work + "\\copy";
        double start = Now();
        if (!ShellCopy(source, copy)) return 1;
        shell.push_back(Now() - start);
        OwnedText copyText(ConcatText(copy.c_str()));
        start = Now();
        if (!DeleteTree(copyText.Get())) return 1;
        remove.push_back(Now() - start);

        start = Now();
        if (!Transfer(source, destination).ok) return 1;
        transfer.push_back(Now() - start);
        std::printf("run %d: shell copy %.3f s, shell delete %.3f s, TransferTree %.3f s\n", i + 1, shell.back(),
                    remove.back(), transfer.back());
    }
    std::printf("shell_copy_seconds %.3f\n", Median(shell));
    std::printf("shell_delete_seconds %.3f\n", Median(remove));
    std::printf("transfer_seconds %.3f\n", Median(transfer));
    OwnedText saveText(ConcatText(destination.c_str(), ".saved"));
    DeleteTree(destinationText.Get());
    DeleteTree(saveText.Get());
    return 0;
}

// The transfer as it was before it moved only what changed: save rotated by renames,
// the whole source copied by the shell, the save before last deleted by the shell.
bool FullTransferOfBefore(const std::string& source, const std::string& destination) {
    const std::string save = destination + ".saved", oldSave = destination + ".2delete";
    if (PathExists(save.c_str()) && !RenameTree(save.c_str(), oldSave.c_str())) return false;
    if (!RenameTree(destination.c_str(), save.c_str())) return false;
    if (!CopyTreeContents(source.c_str(), destination.c_str())) return false;
    OwnedText oldSaveText(ConcatText(oldSave.c_str()));
    return !PathExists(oldSave.c_str()) || DeleteTree(oldSaveText.Get());
}

// Rewrites every `step`-th file of the tree (new content, new time, same size).
void ChangeFiles(const std::string& source, size_t step, const char* only = nullptr) {
    std::vector<TreeEntry> entries;
    std::string problem;
    ListTree(Widen(source), entries, problem);
    size_t n = 0;
    for (const auto& e : entries) {
        if (e.folder) continue;
        const std::string path = source + "\\" + Narrow(e.relative);
        if (only ? Narrow(e.relative).find(only) != std::string::npos : n % step == 0)
            WriteBytes(path, static_cast<size_t>(e.size), static_cast<uint32_t>(GetTickCount() + n));
        ++n;
    }
}

uint64_t TreeBytes(const std::string& root) {
    std::vector<TreeEntry> entries;
    std::string problem;
    ListTree(Widen(root), entries, problem);
    uint64_t bytes = 0;
    for (const auto& e : entries) bytes += e.size;
    return bytes;
}

int Changes(const std::string& source, const std::string& work) {
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string destination = work + "\\Data";
    CreateDirectoryA(destination.c_str(), nullptr);
    for (int i = 0; i < 2; ++i)
        if (!Transfer(source, destination).ok) return 1;
    const uint64_t total = TreeBytes(source);

    double start = Now();
    if (!FullTransferOfBefore(source, destination)) return 1;
    const double before = Now() - start;
    std::printf("full transfer of before: %.3f s, %.1f MB read from the source\n", before, total / 1e6);
    std::printf("before_seconds %.3f\n", before);
    // A tree that no transfer made has no manifest: its first transfer copies everything
    // and leaves one, as the first period after an upgrade does.
    start = Now();
    if (!Transfer(source, destination).ok) return 1;
    std::printf("first transfer over a tree copied by other means: %.3f s\n", Now() - start);

    struct Scenario {
        const char* name;
        std::function<void()> change;
    };
    const Scenario scenarios[] = {
        {"nothing_changed", [] {}},
        {"one_1MB_file_changed", [&] { ChangeFiles(source, 0, "one megabyte.dat"); }},
        {"ten_percent_changed", [&] { ChangeFiles(source, 10); }},
        {"every_file_changed", [&] { ChangeFiles(source, 1); }},
    };
    for (const auto& scenario : scenarios) {
        scenario.change();
        start = Now();
        const TransferResult result = Transfer(source, destination);
        if (!result.ok) return 1;
        const double seconds = Now() - start;
        const TransferFigures figures = result.figures;
        std::printf("%s: %.3f s (%.2f x faster than before)%s, %.3f MB read from the source in %llu files, "
                    "%.1f MB copied on the destination's side in %llu files, %llu files kept in place\n",
                    scenario.name, seconds, before / seconds, result.changedNothing ? ", nothing to do" : "",
                    figures.bytesFromSource / 1e6, static_cast<unsigned long long>(figures.filesFromSource),
                    figures.bytesOnOwnSide / 1e6, static_cast<unsigned long long>(figures.filesOnOwnSide),
                    static_cast<unsigned long long>(figures.filesKept));
        std::printf("%s_seconds %.3f\n%s_source_bytes %llu\n", scenario.name, seconds, scenario.name,
                    static_cast<unsigned long long>(figures.bytesFromSource));
        // What a file that did not change costs, where all but a few did not.
        if (figures.filesKept)
            std::printf("%s_ms_per_unchanged_file %.3f\n", scenario.name, 1000.0 * seconds / figures.filesKept);
    }
    return 0;
}

// The open-files check as it was: every file opened sharing nothing, for comparison.
bool OpenedSharingNothing(const std::string& folder) {
    std::vector<TreeEntry> entries;
    std::string problem;
    ListTree(Widen(folder), entries, problem);
    for (const auto& entry : entries) {
        if (entry.folder) continue;
        HANDLE h = CreateFileW(JoinPath(Widen(folder), entry.relative).c_str(), GENERIC_READ, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return true;
        CloseHandle(h);
    }
    return false;
}

// The checks a period adds for safety, each timed on its own, against the two transfers.
int Safety(const std::string& source, const std::string& work) {
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string local = work + "\\Local", shared = work + "\\Shared";
    CreateDirectoryA(local.c_str(), nullptr);
    CreateDirectoryA(shared.c_str(), nullptr);
    if (!Transfer(source, shared).ok || !Transfer(shared, local).ok) return 1;
    ChangeFiles(local, 0, "one megabyte.dat");

    // A period: copy in and copy back, both with a change of one file.
    double start = Now();
    ChangeFiles(shared, 0, "big.pdb");
    if (!Transfer(shared, local).ok) return 1;
    ChangeFiles(local, 0, "one megabyte.dat");
    const double copyBackStart = Now();
    if (!Transfer(local, shared).ok) return 1;
    const double copyBack = Now() - copyBackStart;
    const double period = Now() - start;

    // After the application ended: is any data file still open in another program?
    start = Now();
    std::string inUse;
    FirstFileInUse(local.c_str(), inUse);
    const double openCheck = Now() - start;
    start = Now();
    OpenedSharingNothing(local);
    const double openCheckBefore = Now() - start;

    std::vector<TreeEntry> entries;
    std::string problem;
    ListTree(Widen(shared), entries, problem);  // the transfer lists its source anyway
    start = Now();
    for (int i = 0; i < 2; ++i) {  // the check of the copy, after each of the two copies
        if (!CopyMatchesSource(entries, Widen(shared), Widen(local), true, problem)) return 1;
    }
    const double verification = Now() - start;
    start = Now();
    uint64_t fingerprint = 0;
    FingerprintFolder(shared, fingerprint);  // before the copy back
    const double sharedCheck = Now() - start;
    start = Now();
    for (const std::string& folder : {local, shared}) {
        TransferInterrupted(folder);
        RepairTransfer(folder);
    }
    const double repair = Now() - start;
    start = Now();
    UnsavedWork record;
    GetSystemTimeAsFileTime(&record.began);
    record.sharedFingerprint = fingerprint;
    WriteUnsavedWork(local.c_str(), record);
    ReadUnsavedWork(local.c_str(), record);
    ClearUnsavedWork(local.c_str());
    const double recordCost = Now() - start;
    const double safety = verification + sharedCheck + repair + recordCost;
    std::printf("period (copy in + copy back, one file changed each way): %.3f s\n", period);
    std::printf("safety: verification %.3f s, shared-data check %.3f s, repair checks %.4f s, record %.4f s\n",
                verification, sharedCheck, repair, recordCost);
    std::printf("safety_share_of_period %.1f %%\n", 100.0 * safety / period);
    std::printf("open-file check of the local data: %.3f s, %.1f %% of the copy back (%.3f s)\n", openCheck,
                100.0 * openCheck / copyBack, copyBack);
    std::printf("open-file check, %zu files: %.3f s; opening each file sharing nothing, as before: %.3f s\n",
                static_cast<size_t>(std::count_if(entries.begin(), entries.end(), [](const TreeEntry& e) { return !e.folder; })),
                openCheck, openCheckBefore);
    return 0;
}

BOOL WINAPI NoFlush(HANDLE) { return TRUE; }

// Full transfers into an empty destination, so that every file is written and flushed:
// what putting the new tree on disk costs.
int Flush(const std::string& source, const std::string& work, int runs) {
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string destination = work + "\\Data";
    const auto realFlush = Platform().flushFile;
    std::vector<double> flushed, unflushed;
    for (int i = 0; i < runs; ++i) {
        for (const bool flush : {false, true}) {
            for (const char* suffix : {"", ".saved"}) {
                OwnedText old(ConcatText(destination.c_str(), suffix));
                if (PathExists(old.Get())) DeleteTree(old.Get());
            }
            CreateDirectoryA(destination.c_str(), nullptr);
            Platform().flushFile = flush ? realFlush : NoFlush;
            const double start = Now();
            const bool ok = Transfer(source, destination).ok;
            (flush ? flushed : unflushed).push_back(Now() - start);
            Platform().flushFile = realFlush;
            if (!ok) return 1;
        }
        std::printf("run %d: full transfer unflushed %.3f s, flushed %.3f s\n", i + 1, unflushed.back(),
                    flushed.back());
    }
    std::printf("unflushed_seconds %.3f\n", Median(unflushed));
    std::printf("flushed_seconds %.3f\n", Median(flushed));
    return 0;
}

// The local copy of a whole tree, file by file as the transfer makes it, then flushed as the
// transfer flushes it: on one thread, and split over several, to see whether parallel work
// pays on this machine.
int Parallel(const std::string& source, const std::string& work, int runs) {
    std::vector<TreeEntry> entries;
    std::string problem;
    if (!ListTree(Widen(source), entries, problem)) {
        std::fprintf(stderr, "cannot list %s: %s\n", source.c_str(), problem.c_str());
        return 1;
    }
    std::vector<std::wstring> files;
    for (const auto& entry : entries)
        if (!entry.folder) files.push_back(entry.relative);
    CreateDirectoryA(work.c_str(), nullptr);
    const unsigned threadCounts[] = {1, 2, 4};
    for (int run = 1; run <= runs; ++run) {
        for (unsigned threads : threadCounts) {
            const std::wstring target = Widen(work + "\\copy");
            CreateDirectoryW(target.c_str(), nullptr);
            for (const auto& entry : entries)
                if (entry.folder) CreateDirectoryW(JoinPath(target, entry.relative).c_str(), nullptr);
            const auto split = [&](const std::function<void(const std::wstring&)>& each) {
                std::vector<std::thread> workers;
                for (unsigned t = 0; t < threads; ++t)
                    workers.emplace_back([&, t] {
                        for (size_t i = t; i < files.size(); i += threads) each(files[i]);
                    });
                for (auto& worker : workers) worker.join();
            };
            std::atomic<int> failed{0};
            double start = Now();
            split([&](const std::wstring& name) {
                if (!CopyFileExW(JoinPath(Widen(source), name).c_str(), JoinPath(target, name).c_str(), nullptr,
                                 nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS))
                    ++failed;
            });
            const double copied = Now() - start;
            start = Now();
            split([&](const std::wstring& name) {
                HANDLE h = CreateFileW(JoinPath(target, name).c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                       nullptr);
                if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) ++failed;
                if (h == INVALID_HANDLE_VALUE) return;
                CloseHandle(h);
            });
            const double flushed = Now() - start;
            if (failed) {
                std::fprintf(stderr, "%d copies or flushes failed\n", failed.load());
                return 1;
            }
            std::printf("parallel_run %d threads %u copy %.3f flush %.3f\n", run, threads, copied, flushed);
            RemoveTreeDirect(target);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);  // keep what was printed if the run dies
    Platform().messageBox = PrintedBox;
    int rc = 2;
    if ((argc == 3 || (argc == 4 && std::string(argv[3]) == "many")) && std::string(argv[1]) == "make")
        rc = Make(argv[2], argc == 4);
    if (argc == 5 && std::string(argv[1]) == "measure") rc = Measure(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    if (argc == 4 && std::string(argv[1]) == "changes") rc = Changes(argv[2], argv[3]);
    if (argc == 4 && std::string(argv[1]) == "safety") rc = Safety(argv[2], argv[3]);
    if (argc == 5 && std::string(argv[1]) == "flush") rc = Flush(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    if (argc == 5 && std::string(argv[1]) == "parallel")
        rc = Parallel(argv[2], argv[3], std::max(1, std::atoi(argv[4])));
    if (rc == 2)
        std::fprintf(stderr, "usage: transfer_bench make FOLDER [many] | measure SOURCE WORK RUNS | changes SOURCE WORK | "
                             "safety SOURCE WORK | flush SOURCE WORK RUNS | parallel SOURCE WORK RUNS\n");
    // A run ended from outside exits 0 silently: the script looks for this line.
    if (rc == 0) std::printf("transfer bench done\n");
    return rc;
}
