#include "Race.h"

#include "lock/LifeSign.h"
#include "lock/Tokenlock.h"
#include "shell/Handles.h"
#include "support/TempDir.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace race {

ProcessStart startProcess = CreateProcessA;

namespace {

constexpr DWORD kPatienceMs = 60000;
constexpr DWORD kHeld = 10;
constexpr DWORD kNotHeld = 11;
const std::string kSuffix = ".tokenlockforcarvelund";
const std::string kLifeSignSuffix = kSuffix + ".lifesign";

std::string TakerProgram() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + "lock_taker.exe";
}

bool EndsWith(const std::string& name, const std::string& suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::vector<std::string> NamesIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!search) return names;
    do {
        if (EndsWith(data.cFileName, suffix)) names.push_back(data.cFileName);
    } while (FindNextFileA(search.Get(), &data));
    return names;
}

std::vector<std::string> TokensIn(const std::string& folder) { return NamesIn(folder, kSuffix); }

// The lock held by a PC of this benchmark while the takers wait, with its life sign.
class FirstHolder {
public:
    FirstHolder(const std::string& lockFolder, bool wanted) : folder_(lockFolder) {
        if (!wanted) return;
        const TokenTake take = TryTakeTokenLock(folder_.c_str(), "first");
        if (take.result != TakeResult::Taken) return;
        token_ = take.identity;
        renewer_.Start(folder_.c_str(), token_, kRaceLifeSignMs);
    }
    bool Holds() const { return token_.Known(); }
    void Release() {
        renewer_.Stop();
        if (token_.Known()) DeleteOwnToken(folder_.c_str(), token_);
        token_ = TokenIdentity{};
    }
    ~FirstHolder() { Release(); }

private:
    std::string folder_;
    TokenIdentity token_;
    LifeSignRenewer renewer_;
};

struct Round {
    int holders = 0;
    std::string holder;
    bool failed = false;
    std::string failure;
    std::vector<double> takeMs;
    int ran = 0;                      // takers started
    std::vector<std::string> notRun;  // why the others were not
};

// One taker's start, asked for again when the system refuses it.
bool StartTaker(const std::string& program, const std::string& commandLine, PROCESS_INFORMATION& info, DWORD& error) {
    for (int tried = 1; tried <= kStartTries; ++tried) {
        std::string line = commandLine;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (startProcess(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return true;
        error = GetLastError();
        Sleep(50 * tried);
    }
    return false;
}

Round RunRound(Protocol protocol, int takers, const std::string& lockFolder, const std::string& resultFolder) {
    static unsigned counter = 0;
    Round round;
    auto fail = [&](const std::string& why) {
        round.failed = true;
        if (round.failure.empty()) round.failure = why;
    };
    const std::string start = "CarvelundRace_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(counter++);
    KernelHandle ready(CreateSemaphoreA(nullptr, 0, takers, (start + ".ready").c_str()));
    KernelHandle go(CreateEventA(nullptr, TRUE, FALSE, (start + ".go").c_str()));
    const std::string program = TakerProgram();
    FirstHolder first(lockFolder, protocol == Protocol::Wait);
    if (protocol == Protocol::Wait && !first.Holds()) fail("the first holder could not take the lock");

    std::vector<KernelHandle> owned;
    std::vector<HANDLE> processes;
    std::vector<std::string> names;
    for (int i = 0; i < takers; ++i) {
        const std::string name = "taker" + std::to_string(i + 1);
        const std::string commandLine = "\"" + program + "\" \"" + lockFolder + "\" " + name + " " + start + " " +
                                        Name(protocol) + " \"" + resultFolder + "\\" + name + ".ms\"";
        PROCESS_INFORMATION info{};
        DWORD error = 0;
        if (!StartTaker(program, commandLine, info, error)) {
            round.notRun.push_back(name + " (error " + std::to_string(error) + ")");
            continue;
        }
        CloseHandle(info.hThread);
        owned.emplace_back(info.hProcess);
        processes.push_back(info.hProcess);
        names.push_back(name);
    }
    round.ran = static_cast<int>(processes.size());
    // Release them only once every taker waits at the start.
    for (size_t i = 0; i < processes.size(); ++i)
        if (WaitForSingleObject(ready.Get(), kPatienceMs) != WAIT_OBJECT_0) {
            fail("a taker never got ready");
            break;
        }
    SetEvent(go.Get());
    if (protocol == Protocol::Wait) {
        Sleep(kWaitHoldMs);
        first.Release();
    }
    if (!processes.empty() &&
        WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE, kPatienceMs) != WAIT_OBJECT_0)
        fail("a taker never ended");

    for (size_t i = 0; i < processes.size(); ++i) {
        DWORD code = 0;
        GetExitCodeProcess(processes[i], &code);
        const std::string& name = names[i];
        if (code == kHeld) {
            ++round.holders;
            round.holder = name;
        } else if (code != kNotHeld) {
            fail(name + " ended with " + std::to_string(code));
        }
        std::ifstream result(resultFolder + "\\" + name + ".ms");
        double ms = 0;
        if (result >> ms) round.takeMs.push_back(ms);
    }
    return round;
}

}  // namespace

const char* Name(Protocol protocol) {
    switch (protocol) {
        case Protocol::Take: return "take";
        case Protocol::CheckCreate: return "check-create";
        case Protocol::BackOff: return "back-off";
        case Protocol::Wait: return "wait";
    }
    return "?";
}

bool Parse(const char* text, Protocol& protocol) {
    for (Protocol p : {Protocol::Take, Protocol::CheckCreate, Protocol::BackOff, Protocol::Wait})
        if (std::strcmp(text, Name(p)) == 0) {
            protocol = p;
            return true;
        }
    return false;
}

Tally Run(Protocol protocol, int rounds, int takers) {
    Tally tally;
    double totalMs = 0;
    int measured = 0;
    for (int r = 1; r <= rounds; ++r) {
        testsupport::TempDir place;
        const std::string lockFolder = place / "locks";
        const std::string resultFolder = place / "results";
        testsupport::MakeFolder(lockFolder);
        testsupport::MakeFolder(resultFolder);

        const Round round = RunRound(protocol, takers, lockFolder, resultFolder);
        auto tokens = TokensIn(lockFolder);
        const std::string label = "round " + std::to_string(r) + ": ";
        tally.takersNotStarted += static_cast<int>(round.notRun.size());
        if (!round.notRun.empty()) {
            std::string which;
            for (const auto& n : round.notRun) which += " " + n;
            tally.problems.push_back(label + "not started:" + which + "; the round counts the " +
                                     std::to_string(round.ran) + " that ran");
        }
        if (round.ran == 0) {
            ++tally.roundsNotRun;
            continue;
        }
        ++tally.rounds;
        if (round.failed) {
            ++tally.failures;
            tally.problems.push_back(label + round.failure);
            continue;
        }
        if (round.holders > 1) {
            ++tally.doubleHolds;
            tally.problems.push_back(label + std::to_string(round.holders) + " holders");
        }
        if (round.holders == 0) {
            ++tally.noHolder;
            tally.problems.push_back(label + "no holder");
        }
        bool folderAgrees = static_cast<int>(tokens.size()) == round.holders &&
                            (round.holders != 1 || tokens[0] == round.holder + kSuffix);
        const auto lifeSigns = NamesIn(lockFolder, kLifeSignSuffix);
        if (protocol == Protocol::Wait) {
            // The winner's life sign only: the first holder's went with its token.
            folderAgrees = folderAgrees && static_cast<int>(lifeSigns.size()) == round.holders &&
                           (round.holders != 1 || lifeSigns[0] == round.holder + kLifeSignSuffix);
            for (const auto& l : lifeSigns) tokens.push_back(l);
        }
        if (!folderAgrees) {
            ++tally.strayTokens;
            std::string seen;
            for (const auto& t : tokens) seen += " " + t;
            tally.problems.push_back(label + std::to_string(round.holders) + " holder(s) but tokens:" + seen);
        }
        for (double ms : round.takeMs) {
            totalMs += ms;
            ++measured;
            tally.maxTakeMs = std::max(tally.maxTakeMs, ms);
        }
    }
    tally.meanTakeMs = measured ? totalMs / measured : 0;
    return tally;
}

}  // namespace race
