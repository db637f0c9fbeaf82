// Benchmark: what watching a started program costs this process.
//
//   watch_bench [SECONDS]    (default 10)
//
// Prints, in CPU milliseconds per second of wall time (GetProcessTimes, user + kernel):
// a 100 ms timer alone, and the same timer polling IsRunning while the helper program
// runs for SECONDS; then the cost of one IsRunning call in each phase of a watch, and the
// polling cost per second derived from it (the process's CPU clock is coarse):
//   the started program runs             an exit-code query and a handle wait
//   only a process it started runs       one query of the job's process count
//   only an earlier copy of it runs      a handle wait on that copy
//   the poll that sees the end           a look at every running process (at most once a second)
// and one ProgramsWaitedFor call while a process of the job runs.
// Work done on the program's behalf outside this process (the Wine server) is not included.
#include "launcher/Winappcontrol.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr UINT kTickMs = 100;

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

// One run of a 100 ms thread timer; `tick` returns false to stop.
struct TimerRun {
    double wallMs = 0;
    double cpuMs = 0;
    int ticks = 0;
};

bool (*g_tick)() = nullptr;
int g_ticks = 0;

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    ++g_ticks;
    if (!g_tick()) PostQuitMessage(0);
}

TimerRun RunTimer(bool (*tick)()) {
    g_tick = tick;
    g_ticks = 0;
    const double wall0 = NowMs(), cpu0 = CpuMs();
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, OnTimer);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    KillTimer(nullptr, timer);
    return {NowMs() - wall0, CpuMs() - cpu0, g_ticks};
}

// The smallest step in which the process's CPU time advances (10 ms under Wine).
double CpuClockStepMs() {
    const double start = CpuMs();
    double now = start;
    while (now == start) now = CpuMs();
    const double first = now;
    while (now == first) now = CpuMs();
    return now - first;
}

void Print(const char* what, const TimerRun& run) {
    std::printf("%-28s %7.3f ms CPU per s   (%.2f s wall, %d ticks, %.1f ms CPU)\n", what,
                run.cpuMs * 1000.0 / run.wallMs, run.wallMs / 1000.0, run.ticks, run.cpuMs);
}

AppControl* g_app = nullptr;
double g_timerEnd = 0;

struct CallCost {
    double wallUs = 0;
    double cpuUs = 0;
};

template <typename Call>
CallCost TimeCalls(int calls, Call call) {
    const double wall0 = NowMs(), cpu0 = CpuMs();
    for (int i = 0; i < calls; ++i) call();
    return {(NowMs() - wall0) * 1000.0 / calls, (CpuMs() - cpu0) * 1000.0 / calls};
}

void PrintPoll(const char* what, const CallCost& cost, int calls, int count, const char* counted = "saw it running") {
    std::printf("%-34s %8.2f us wall, %8.2f us CPU   (%d calls, %d %s)\n", what, cost.wallUs, cost.cpuUs, calls, count,
                counted);
}

// Below the clock step the timer figures read 0; this one does not depend on it.
void PrintPerSecond(const char* what, const CallCost& cost, double pollsPerSecond) {
    std::printf("%-34s %8.3f ms CPU per s   (%.0f polls per s x one call)\n", what, pollsPerSecond * cost.cpuUs / 1000.0,
                pollsPerSecond);
}

// A file whose appearance ends the helpers of one phase ("--wait-for FILE").
std::string StopFile(const char* phase) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "watch_bench_" + std::to_string(GetCurrentProcessId()) + "_" + phase;
}

void Touch(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// Ends a phase: its helpers see the stop file, and the watch sees them end.
void EndPhase(AppControl& app, const std::string& stop) {
    Touch(stop);
    while (app.IsRunning()) Sleep(20);
    DeleteFileA(stop.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: watch_bench [SECONDS]\n");
        return 1;
    }
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string helper(self, n);
    helper = helper.substr(0, helper.find_last_of("\\/") + 1) + "cvhelper.exe";

    std::printf("%-28s %7.3f ms\n", "CPU clock step:", CpuClockStepMs());

    g_timerEnd = NowMs() + seconds * 1000.0;
    Print("timer alone:", RunTimer([] { return NowMs() < g_timerEnd; }));

    AppControl app(helper.c_str(), ("--sleep " + std::to_string(seconds * 1000)).c_str());
    if (!app.Start()) {
        std::fprintf(stderr, "cannot start %s: %s\n", helper.c_str(), app.GetErrorText());
        return 1;
    }
    g_app = &app;
    const double started = NowMs();
    const TimerRun watched = RunTimer([] { return g_app->IsRunning(); });
    Print("timer polling IsRunning:", watched);
    std::printf("%-28s %7.0f ms after the start (the program sleeps %d ms)\n", "end seen:", NowMs() - started,
                seconds * 1000);

    constexpr int kCalls = 10000;
    const double perSecond = 1000.0 / kTickMs;

    // The started program runs.
    const std::string stopStarted = StopFile("started");
    AppControl launched(helper.c_str(), ("--wait-for \"" + stopStarted + "\" 120000").c_str());
    if (!launched.Start()) return 1;
    int running = 0;
    const CallCost startedCost = TimeCalls(kCalls, [&] { running += launched.IsRunning(); });
    PrintPoll("IsRunning, started program runs:", startedCost, kCalls, running);
    EndPhase(launched, stopStarted);

    // The started program has ended; the process it started runs on, in the job.
    const std::string stopChild = StopFile("child");
    AppControl stub(helper.c_str(), ("--hand-over --wait-for \"" + stopChild + "\" 120000").c_str());
    if (!stub.Start()) return 1;
    WaitForSingleObject(stub.ProcessInfo.hProcess, 30000);
    running = 0;
    const CallCost childCost = TimeCalls(kCalls, [&] { running += stub.IsRunning(); });
    PrintPoll("IsRunning, only its child runs:", childCost, kCalls, running);
    constexpr int kNameCalls = 1000;
    size_t named = 0;
    const CallCost namesCost = TimeCalls(kNameCalls, [&] { named += stub.ProgramsWaitedFor().size(); });
    PrintPoll("ProgramsWaitedFor, child runs:", namesCost, kNameCalls, static_cast<int>(named), "names");
    EndPhase(stub, stopChild);

    // A copy that ran before takes the work; the started program ends at once.
    const std::string stopCopy = StopFile("copy");
    std::string copyLine = "\"" + helper + "\" --wait-for \"" + stopCopy + "\" 120000";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION copy{};
    if (!CreateProcessA(nullptr, &copyLine[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &copy))
        return 1;
    AppControl handing(helper.c_str(), "--exit 0");
    if (!handing.Start()) return 1;
    WaitForSingleObject(handing.ProcessInfo.hProcess, 30000);
    running = 0;
    const CallCost copyCost = TimeCalls(kCalls, [&] { running += handing.IsRunning(); });
    PrintPoll("IsRunning, only an earlier copy:", copyCost, kCalls, running);
    EndPhase(handing, stopCopy);
    WaitForSingleObject(copy.hProcess, 30000);
    CloseHandle(copy.hThread);
    CloseHandle(copy.hProcess);

    // The poll that sees the end looks at every running process once.
    constexpr int kEnds = 40;
    CallCost lookCost;
    running = 0;
    for (int i = 0; i < kEnds; ++i) {
        AppControl ending(helper.c_str(), "--exit 0");
        if (!ending.Start()) return 1;
        WaitForSingleObject(ending.ProcessInfo.hProcess, 30000);
        const CallCost one = TimeCalls(1, [&] { running += ending.IsRunning(); });
        lookCost.wallUs += one.wallUs / kEnds;
        lookCost.cpuUs += one.cpuUs / kEnds;
    }
    PrintPoll("IsRunning, the poll seeing the end:", lookCost, kEnds, running);

    PrintPerSecond("polling, started program runs:", startedCost, perSecond);
    PrintPerSecond("polling, only its child runs:", childCost, perSecond);
    PrintPerSecond("polling, only an earlier copy:", copyCost, perSecond);
    PrintPerSecond("looking, at most once a second:", lookCost, 1);
    std::printf("watch benchmark done\n");
    return 0;
}
