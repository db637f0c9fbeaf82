// Benchmark: what watching a started program costs this process.
//
//   watch_bench [SECONDS]    (default 10)
//
// Prints, in CPU milliseconds per second of wall time (GetProcessTimes, user + kernel):
// a 100 ms timer alone, and the same timer polling IsRunning while the helper program
// runs for SECONDS; then the cost of one IsRunning call on a running program, and the
// polling cost per second derived from it (the process's CPU clock is coarse).
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

    // The cost of a single poll, on a program that keeps running.
    AppControl waiting(helper.c_str(), "--sleep 60000");
    if (!waiting.Start()) return 1;
    constexpr int kCalls = 10000;
    const double wall0 = NowMs(), cpu0 = CpuMs();
    int running = 0;
    for (int i = 0; i < kCalls; ++i) running += waiting.IsRunning();
    const double wall = NowMs() - wall0, cpu = CpuMs() - cpu0;
    std::printf("%-28s %7.2f us wall, %.2f us CPU   (%d calls, %d saw it running)\n", "one IsRunning call:",
                wall * 1000.0 / kCalls, cpu * 1000.0 / kCalls, kCalls, running);
    // Below the clock step the timer figures read 0; this one does not depend on it.
    std::printf("%-28s %7.3f ms CPU per s   (%u polls per s x one call)\n", "polling, from one call:",
                (1000.0 / kTickMs) * cpu / kCalls, 1000 / kTickMs);
    TerminateProcess(waiting.ProcessInfo.hProcess, 0);  // a benchmark leaves nothing behind
    WaitForSingleObject(waiting.ProcessInfo.hProcess, 10000);
    std::printf("watch benchmark done\n");
    return 0;
}
