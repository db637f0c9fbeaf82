// Benchmark, not a test: one whole working period of a real program, timed from outside.
//
//   period_bench layout WORK PC PROGRAM HELPER [SHARE]
//       a share (SHARE\locks; SHARE\data must hold the tree already; SHARE is WORK\share
//       unless given, for example \\server\share) and one PC (WORK\PC\prog with PROGRAM
//       as Carvelund.exe, its INI and HELPER as the run command; WORK\PC\data, empty).
//       The application appends a line to the tree's 1 MB file and ends, writing a marker
//       before and after; with SHARE given it runs ten seconds first, as a real period's
//       application outlasts the lock check's wait for a network client's folder cache.
//   period_bench run WORK PC LABEL [SHARE WATCH]
//       starts that PC's program with a user name and prints, in seconds from its start,
//       when the lock token appears, the local copy being built appears and takes its
//       name, the application starts and ends, the copy being built on the share appears
//       and takes its name, the token goes and the program ends (-1: not seen; a copy in
//       that finds nothing changed builds nothing). Anything else it shows, a time-out or
//       a period that did not reach the share is printed as a problem; the program and
//       its application are then ended and the exit code is 1. With WATCH, the share's
//       folders are watched there (where SHARE's files are kept), so that watching sends
//       no request to the share.
//
// scripts/bench.d/50-period.sh runs the periods and prints the timeline.
#include "support/Stopwatch.h"
#include "support/Gui.h"
#include "support/TempDir.h"

#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

constexpr const char* kUser = "Bench";
constexpr const char* kChangedFile = "group 0\\one megabyte.dat";
constexpr DWORD kPeriodPatienceMs = 240000;

struct Work {
    // `share` as the program's settings name it, `watched` where this process looks at it.
    Work(const std::string& root, const std::string& pc, const std::string& share, const std::string& watched)
        : locks(share + "\\locks"),
          shared(share + "\\data"),
          watchedShared(watched + "\\data"),
          prog(root + "\\" + pc + "\\prog"),
          program(prog + "\\Carvelund.exe"),
          ini(prog + "\\Carvelund.Ini"),
          helper(prog + "\\cvhelper.exe"),
          local(root + "\\" + pc + "\\data"),
          marks(root + "\\" + pc + "\\marks"),
          started(marks + "\\app started"),
          ended(marks + "\\app ended"),
          token(watched + "\\locks\\" + kUser + ".tokenlockforcarvelund"),
          localIncoming(local + ".next"),
          sharedIncoming(watchedShared + ".next") {}
    std::string locks, shared, watchedShared, prog, program, ini, helper, local, marks, started, ended, token,
        localIncoming, sharedIncoming;
};

double Now() { return testsupport::SecondsNow(); }

long long SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// With `minimumMs`, the application runs at least that long.
int Layout(const Work& w, const std::string& program, const std::string& helper, int minimumMs) {
    const std::string appRuns = minimumMs ? "--sleep " + std::to_string(minimumMs) + " " : "";
    if (SizeOf(w.watchedShared + "\\" + kChangedFile) != 1 << 20) {
        std::printf("problem: %s\\%s is not the 1 MB file of the bench tree\n", w.watchedShared.c_str(), kChangedFile);
        return 1;
    }
    MakeFolder(w.locks);
    MakeFolder(w.prog);
    MakeFolder(w.local);
    MakeFolder(w.marks);
    if (!CopyFileA(program.c_str(), w.program.c_str(), FALSE) || !CopyFileA(helper.c_str(), w.helper.c_str(), FALSE)) {
        std::printf("problem: cannot copy %s and %s into %s\n", program.c_str(), helper.c_str(), w.prog.c_str());
        return 1;
    }
    const std::pair<const char*, std::string> settings[] = {
        {"RemoteLockFolder", w.locks},
        {"RemoteSharedDataFolder", w.shared},
        {"LocalDataFolder", w.local},
        {"RunCommand", w.helper},
        {"RunCommandOptions", "--write \"" + w.started + "\" x --append-line \"" + w.local + "\\" + kChangedFile +
                                  "\" \"one more period\" " + appRuns + "--write \"" + w.ended + "\" x"},
    };
    for (const auto& [key, value] : settings)
        if (!WritePrivateProfileStringA("RunTime", key, value.c_str(), w.ini.c_str())) {
            std::printf("problem: cannot write %s\n", w.ini.c_str());
            return 1;
        }
    std::printf("laid out %s\n", w.prog.c_str());
    return 0;
}

// The first top-level window of process `pid` whose class `wanted` accepts, or null.
HWND WindowOf(DWORD pid, bool (*wanted)(HWND window, const char* className)) {
    struct Look {
        DWORD pid;
        bool (*wanted)(HWND, const char*);
        HWND found;
    } look{pid, wanted, nullptr};
    EnumWindows(
        [](HWND window, LPARAM lp) -> BOOL {
            auto* l = reinterpret_cast<Look*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            char cls[64] = "";
            GetClassNameA(window, cls, sizeof cls);
            if (owner != l->pid || !l->wanted(window, cls)) return TRUE;
            l->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&look));
    return look.found;
}

// A visible window of the program other than its title window, its tooltip and its
// progress display: a question or a failure, which a timed period must not meet.
std::string Interruption(DWORD pid) {
    const HWND window = WindowOf(pid, [](HWND w, const char* cls) {
        for (const char* usual : {"TLogo", "TProgress", "tooltips_class32"})
            if (!lstrcmpA(cls, usual)) return false;
        return IsWindowVisible(w) != FALSE;
    });
    if (!window) return "";
    char cls[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    std::string seen = std::string(cls) + " \"" + WindowText(window) + "\"";
    if (HWND text = GetDlgItem(window, 0xFFFF)) seen += ": " + WindowText(text);
    return seen;
}

// The program's title window, which stays up for the whole period.
bool TitleWindowShown(DWORD pid) {
    return WindowOf(pid, [](HWND, const char* cls) { return !lstrcmpA(cls, "TLogo"); }) != nullptr;
}

// The period's process: its window's stage needs it.
DWORD periodPid = 0;

// Ends every process running this PC's copy of the helper: only this period started them.
void EndHelpers(const std::string& helper) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, "cvhelper.exe") != 0) continue;
        HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        char image[MAX_PATH];
        DWORD size = sizeof image;
        if (QueryFullProcessImageNameA(process, 0, image, &size) && lstrcmpiA(image, helper.c_str()) == 0) {
            TerminateProcess(process, 9);
            WaitForSingleObject(process, 10000);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

int Run(const Work& w, const std::string& label) {
    DeleteFileA(w.started.c_str());
    DeleteFileA(w.ended.c_str());
    if (Exists(w.token)) {
        std::printf("problem: a token is left from before: %s\n", w.token.c_str());
        return 1;
    }
    const long long sizeBefore = SizeOf(w.watchedShared + "\\" + kChangedFile);

    // In order; an optional stage not seen before a later one is reached stays unseen.
    struct Stage {
        const char* name;
        bool (*reached)(const Work&, const double* seen);
        bool optional;
        double at;
    };
    enum { kTokenIn, kInStart, kInEnd, kAppStart, kAppEnd, kBackStart, kBackEnd, kTokenOut };
    Stage stages[] = {
        {"token_in", [](const Work& x, const double*) { return Exists(x.token); }, false, -1},
        {"in_start", [](const Work& x, const double*) { return Exists(x.localIncoming); }, true, -1},
        {"in_end", [](const Work& x, const double* seen) { return seen[kInStart] >= 0 && !Exists(x.localIncoming); },
         true, -1},
        {"app_start", [](const Work& x, const double*) { return Exists(x.started); }, false, -1},
        {"app_end", [](const Work& x, const double*) { return Exists(x.ended); }, false, -1},
        {"back_start", [](const Work& x, const double*) { return Exists(x.sharedIncoming); }, true, -1},
        {"back_end",
         [](const Work& x, const double* seen) { return seen[kBackStart] >= 0 && !Exists(x.sharedIncoming); }, true,
         -1},
        {"token_out", [](const Work& x, const double*) { return !Exists(x.token); }, false, -1},
        // The user sees the period end here; the program may still delete old saves.
        {"window_closed", [](const Work&, const double*) { return !TitleWindowShown(periodPid); }, false, -1},
    };
    constexpr size_t kStages = sizeof stages / sizeof stages[0];
    double seen[kStages];

    std::string commandLine = "\"" + w.program + "\" " + kUser;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const double start = Now();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, w.prog.c_str(), &startup,
                        &info)) {
        std::printf("problem: cannot start %s (error %lu)\n", w.program.c_str(), GetLastError());
        return 1;
    }
    CloseHandle(info.hThread);
    periodPid = info.dwProcessId;

    size_t next = 0;
    double end = -1;
    double lastLook = start;
    std::string problem;
    // A poll every millisecond or so sees each stage.
    for (;;) {
        const bool exited = WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0;
        const double now = Now();
        for (size_t k = 0; k < kStages; ++k) seen[k] = stages[k].at < 0 ? -1 : stages[k].at - start;
        for (size_t k = next; k < kStages; ++k) {
            if (!stages[k].reached(w, seen)) {
                if (stages[k].optional) continue;
                break;
            }
            stages[k].at = now;
            seen[k] = now - start;
            next = k + 1;
        }
        if (exited) {
            end = now;
            break;
        }
        if (now - lastLook > 0.1) {
            lastLook = now;
            problem = Interruption(info.dwProcessId);
            if (!problem.empty()) break;
        }
        if (now - start > kPeriodPatienceMs / 1000.0) {
            problem = "no end after " + std::to_string(kPeriodPatienceMs / 1000) + " s";
            break;
        }
    }

    DWORD code = 0;
    if (end < 0) {
        TerminateProcess(info.hProcess, 9);
        WaitForSingleObject(info.hProcess, 10000);
        EndHelpers(w.helper);
    } else {
        GetExitCodeProcess(info.hProcess, &code);
    }
    CloseHandle(info.hProcess);

    std::printf("period %s seconds: total %.3f", label.c_str(), end < 0 ? -1.0 : end - start);
    for (const Stage& s : stages) std::printf(" %s %.3f", s.name, s.at < 0 ? -1.0 : s.at - start);
    std::printf("\n");

    const long long sizeAfter = SizeOf(w.watchedShared + "\\" + kChangedFile);
    if (problem.empty() && code != 0) problem = "exit code " + std::to_string(code);
    for (const Stage& s : stages)
        if (problem.empty() && !s.optional && s.at < 0) problem = std::string("never saw ") + s.name;
    if (problem.empty() && (sizeAfter <= sizeBefore || sizeAfter != SizeOf(w.local + "\\" + kChangedFile)))
        problem = "the changed file did not reach the share";
    if (!problem.empty()) {
        std::printf("problem: period %s: %s\n", label.c_str(), problem.c_str());
        DeleteFileA(w.token.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    int rc = 2;
    const auto work = [&](int shareAt, int watchAt) {
        const std::string share = argc > shareAt ? argv[shareAt] : std::string(argv[2]) + "\\share";
        return Work(argv[2], argv[3], share, argc > watchAt ? argv[watchAt] : share);
    };
    // On a share across a network the application runs ten seconds, as a real period's does:
    // the lock check waits until ten seconds after the take there (a client's folder cache).
    if (command == "layout" && (argc == 6 || argc == 7))
        rc = Layout(work(6, 99), argv[4], argv[5], argc == 7 ? 10000 : 0);
    else if (command == "run" && (argc == 5 || argc == 7))
        rc = Run(work(5, 6), argv[4]);
    else
        std::fprintf(stderr, "usage: period_bench layout WORK PC PROGRAM HELPER [SHARE] | run WORK PC LABEL [SHARE WATCH]\n");
    // A run ended from outside exits 0 without this line.
    if (rc != 2) std::printf("period bench done %d\n", rc);
    std::fflush(stdout);
    return rc;
}
