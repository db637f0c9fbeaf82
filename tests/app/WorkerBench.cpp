// Benchmark, not a test: what running a transfer on a worker thread, with the window
// thread handling its messages meanwhile, costs against running it in place.
//
//   worker_bench FOLDER [FILES] [ROUNDS]   builds a tree of FILES files (default 2,000)
//                                          and times each way, in turns, ROUNDS times
#include "support/Stopwatch.h"
#include "forms/Worker.h"
#include "shell/transfer/Transfer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Now() { return testsupport::SecondsNow(); }

void MakeTree(const std::string& root, int files) {
    CreateDirectoryA(root.c_str(), nullptr);
    const std::string content(20000, 'b');
    for (int i = 0; i < files; ++i) {
        const std::string folder = root + "\\d" + std::to_string(i / 100);
        if (i % 100 == 0) CreateDirectoryA(folder.c_str(), nullptr);
        HANDLE file = CreateFileA((folder + "\\f" + std::to_string(i)).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()) + static_cast<DWORD>(i % 7), &written,
                  nullptr);
        CloseHandle(file);
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One transfer of the tree; the source changes one file each time, so every round moves
// the same amount.
double TimeTransfer(const std::string& source, const std::string& work, bool onWorker, int round) {
    const std::string changed = source + "\\d0\\f0";
    HANDLE file = CreateFileA(changed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const std::string text = "round " + std::to_string(round) + (onWorker ? " worker" : " inline");
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    const double start = Now();
    const TransferResult result = onWorker ? RunOnWorker([&] { return TransferTree(source, work); })
                                           : TransferTree(source, work);
    const double seconds = Now() - start;
    if (!result.ok) std::fprintf(stderr, "transfer failed: %s\n", result.messages.empty() ? "" : result.messages[0].text.c_str());
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: worker_bench FOLDER [FILES] [ROUNDS]\n");
        return 2;
    }
    const std::string root = argv[1];
    const int files = argc > 2 ? std::atoi(argv[2]) : 2000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::string source = root + "\\source", work = root + "\\work";
    CreateDirectoryA(root.c_str(), nullptr);
    MakeTree(source, files);
    CreateDirectoryA(work.c_str(), nullptr);
    TransferTree(source, work);  // warm-up: the work tree holds the source once
    std::vector<double> inPlace, onWorker;
    for (int round = 0; round < rounds; ++round) {
        inPlace.push_back(TimeTransfer(source, work, false, round));
        onWorker.push_back(TimeTransfer(source, work, true, round));
    }
    const double a = Median(inPlace), b = Median(onWorker);
    std::printf("transfer of %d files, one changed, median of %d rounds:\n", files, rounds);
    std::printf("  in place        %.3f s\n  on a worker     %.3f s\n  worker/in place %.3f\n", a, b, b / a);
    return 0;
}
