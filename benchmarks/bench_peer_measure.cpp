// Runs a command and reports what it cost, for benchmarks/peers: a small launcher, because a
// child's peak memory counts the memory of the process it was forked from (here next to none).
//   bench_peer_measure COMMAND [ARGUMENT...]
// Prints "measured EXIT WALL_MS CPU_MS PEAK_KB" on standard error once the command has ended.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace {

double nowMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMMAND [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    double start = nowMilliseconds();
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return 2;
    double wall = nowMilliseconds() - start;
    double cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::fprintf(stderr, "measured %d %.3f %.3f %ld\n", code, wall, cpu, usage.ru_maxrss);
    return 0;
}
