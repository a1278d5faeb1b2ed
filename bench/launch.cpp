// benchlaunch: times a program from its start to its exit, inside Wine, so that every
// program measured pays the same process start-up.
//   benchlaunch [-n COUNT] [COMMAND LINE...]
// Without a command line on its own, the child's command line is taken from the
// environment variable BENCH_COMMAND, which passes quotes and spaces through unchanged.
// Prints one line per run: the wall time in milliseconds from CreateProcess to the end of
// the wait, the exit code, and the child's peak private bytes as the system reports them
// (Wine reports 0 for a process that has ended).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The command line after the launcher's own name and options, exactly as typed.
static const char *SkipWord(const char *p) {
    while (*p == ' ' || *p == '\t')
        p++;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++)
        if (*p == '"')
            quoted = !quoted;
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

int main(int argc, char **argv) {
    int count = 1;
    const char *tail = SkipWord(GetCommandLineA());
    if (argc >= 3 && !std::strcmp(argv[1], "-n")) {
        count = std::atoi(argv[2]);
        tail = SkipWord(SkipWord(tail));
    }
    static char fromEnvironment[32768];
    if (!*tail &&
        GetEnvironmentVariableA("BENCH_COMMAND", fromEnvironment, sizeof fromEnvironment) - 1 <
            sizeof fromEnvironment - 1)
        tail = fromEnvironment;
    if (!*tail || count < 1) {
        std::fprintf(stderr, "usage: benchlaunch [-n COUNT] COMMAND LINE...\n");
        return 2;
    }
    // Under Wine the first program that needs the desktop starts its process; the launcher
    // starts it here, outside the timed part, so that no measured program pays for it.
    GetDesktopWindow();
    // BENCH_CHILD_WINEDEBUG becomes the child's WINEDEBUG: Wine's traces of the measured
    // program alone, without the launcher's.
    static char childDebug[256];
    DWORD debugLength =
        GetEnvironmentVariableA("BENCH_CHILD_WINEDEBUG", childDebug, sizeof childDebug);
    if (debugLength > 0 && debugLength < sizeof childDebug)
        SetEnvironmentVariableA("WINEDEBUG", childDebug);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < count; i++) {
        char commandLine[32768];
        std::snprintf(commandLine, sizeof commandLine, "%s", tail);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
            std::fprintf(stderr, "benchlaunch: cannot start %s (error %lu)\n", tail,
                         GetLastError());
            return 1;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        QueryPerformanceCounter(&end);
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (!GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
            counters.PeakPagefileUsage = 0;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        double ms = double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
        std::printf("ms=%.3f exit=%ld peak=%lu\n", ms, long(exitCode),
                    (unsigned long)counters.PeakPagefileUsage);
        std::fflush(stdout);
    }
    return 0;
}
