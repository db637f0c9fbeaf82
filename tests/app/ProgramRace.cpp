// Program race benchmark: eight PCs start the real program at the same moment, round
// after round. In each round exactly one should hold the lock and run the application
// while the seven others see "Caution - Already Locked" and cancel; every instance
// should end with exit code 0. Prints the tally and every odd instance.
#include "app/Workspace.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace e2e;
using namespace testsupport;

namespace {

constexpr int kPcs = 8;
constexpr DWORD kRoundPatienceMs = 180000;

struct Instance {
    std::unique_ptr<ProgramRun> run;
    bool held = false;
    bool dialog = false;
    std::vector<std::string> boxes;  // caption: text of any other box it showed
    bool ended = false;
    DWORD exitCode = 0;
};

struct Tally {
    int rounds = 0;
    int starts = 0;
    int doubleHolds = 0;
    int noHolder = 0;
    int silent = 0;       // ended without holding, without a dialog and without a box
    int otherExits = 0;   // exit codes other than 0
    int boxes = 0;        // message boxes other than the start-lock dialog
    int stuck = 0;        // rounds that did not end in time
};

std::string Marker(int round, int pc) { return "round " + std::to_string(round) + " pc" + std::to_string(pc); }

// Looks at one running instance: its application, its start-lock dialog, other boxes.
void Observe(Instance& in, const Pc& pc, const std::string& marker) {
    if (!in.held && ReadFileOr(pc.local + "\\notes.txt", "").find(marker) != std::string::npos) in.held = true;
    if (HWND dialog = FindTopWindow("TStartLock", nullptr, in.run->Pid())) {
        in.dialog = true;
        if (HWND cancel = FindChild(dialog, "Button", "Cancel")) Click(cancel);
    }
    if (HWND box = FindTopWindow("#32770", nullptr, in.run->Pid())) {
        std::string seen = WindowText(box);
        if (HWND text = GetDlgItem(box, 0xFFFF)) seen += ": " + WindowText(text);
        if (in.boxes.empty() || in.boxes.back() != seen) in.boxes.push_back(seen);
        PressButton(box, "OK");
    }
    if (!in.ended && in.run->Ended(0)) {
        in.ended = true;
        in.exitCode = in.run->ExitCode();
    }
}

bool RunRound(int round, std::vector<std::unique_ptr<Pc>>& pcs, const Share& share, Tally& tally) {
    for (int i = 0; i < kPcs; ++i) {
        DeleteFileA(pcs[i]->go.c_str());
        pcs[i]->AppendsThenWaits(Marker(round, i + 1));
    }
    std::vector<Instance> instances(kPcs);
    for (int i = 0; i < kPcs; ++i)
        instances[i].run = std::make_unique<ProgramRun>(pcs[i]->program, "user" + std::to_string(i + 1));
    tally.starts += kPcs;

    const DWORD start = GetTickCount();
    bool released = false;
    for (;;) {
        int endedOrHolding = 0, ended = 0;
        for (int i = 0; i < kPcs; ++i) {
            Observe(instances[i], *pcs[i], Marker(round, i + 1));
            if (instances[i].ended) ++ended;
            if (instances[i].ended || instances[i].held) ++endedOrHolding;
        }
        // Only once every other instance is gone does the holder's application end:
        // two holders at once would both be seen running.
        if (!released && endedOrHolding == kPcs) {
            for (int i = 0; i < kPcs; ++i)
                if (instances[i].held) WriteFile(pcs[i]->go, "go");
            released = true;
        }
        if (ended == kPcs) break;
        if (GetTickCount() - start > kRoundPatienceMs) {
            ++tally.stuck;
            std::printf("round %d: not ended in time\n", round);
            break;
        }
        Sleep(20);
    }

    int holders = 0;
    for (int i = 0; i < kPcs; ++i) {
        const Instance& in = instances[i];
        holders += in.held ? 1 : 0;
        const bool silent = in.ended && !in.held && !in.dialog && in.boxes.empty();
        tally.silent += silent ? 1 : 0;
        tally.otherExits += in.ended && in.exitCode != 0 ? 1 : 0;
        tally.boxes += static_cast<int>(in.boxes.size());
        if (silent || (in.ended && in.exitCode != 0) || !in.boxes.empty()) {
            std::printf("round %d pc%d: exit %lu%s%s%s", round, i + 1, static_cast<unsigned long>(in.exitCode),
                        in.held ? ", held" : "", in.dialog ? ", dialog" : "", silent ? ", SILENT" : "");
            for (const auto& b : in.boxes) std::printf(", box \"%s\"", b.c_str());
            std::printf("\n");
        }
    }
    if (holders > 1) ++tally.doubleHolds;
    if (holders == 0) ++tally.noHolder;
    if (holders != 1) std::printf("round %d: %d holders\n", round, holders);
    ++tally.rounds;
    std::fflush(stdout);
    // Tokens left behind would turn the next round into a wait for nothing.
    for (const TreeEntry& e : ListTree(share.lock)) DeleteFileA((share.lock + "\\" + e.relative).c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    TempDir root;
    Share share(root);
    std::vector<std::unique_ptr<Pc>> pcs;
    for (int i = 1; i <= kPcs; ++i) pcs.push_back(std::make_unique<Pc>(root, share, "pc" + std::to_string(i)));

    Tally tally;
    for (int r = 1; r <= rounds; ++r) {
        RunRound(r, pcs, share, tally);
        if (r % 25 == 0) std::printf("... %d rounds, %d starts\n", r, tally.starts);
        std::fflush(stdout);
    }
    std::printf("%6s %6s %10s %10s %12s %10s %8s %6s\n", "rounds", "starts", ">1 holder", "no holder", "exit not 0",
                "silent end", "boxes", "stuck");
    std::printf("%6d %6d %10d %10d %12d %10d %8d %6d\n", tally.rounds, tally.starts, tally.doubleHolds, tally.noHolder,
                tally.otherExits, tally.silent, tally.boxes, tally.stuck);
    std::printf("program race done\n");
    return 0;
}
