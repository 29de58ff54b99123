// Runs a program and writes its peak resident memory (KiB) to a file:
//   peak_memory RESULT_FILE PROGRAM [ARGUMENTS...]
// Exits as the program did (128 + the signal when it was killed by one).
// A small process of its own, so that the figure is the program's alone: a
// child forked straight from a large test process would count the test's
// pages it carried until it started the program.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: peak_memory RESULT_FILE PROGRAM [ARGUMENTS...]\n");
        return 125;
    }
    const pid_t child = fork();
    if (child < 0) return 125;
    if (child == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return 125;
    if (std::FILE* result = std::fopen(argv[1], "w")) {
        std::fprintf(result, "%ld\n", usage.ru_maxrss);
        std::fclose(result);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
