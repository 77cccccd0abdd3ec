// Stands in for krv-jet-reader where a test needs a reader that misbehaves, as the real
// one does on some damaged files. The table name says how.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string how = argv[2];
    std::printf("KRVJET 1 0\nC 3 2 41\nR 0100\n");
    std::fflush(stdout);
    if (how == "crash") std::abort();
    if (how == "hang") std::this_thread::sleep_for(std::chrono::hours(1));
    if (how == "short-row") std::printf("R 0200 0300\n");
    if (how == "stop") return 0;
    std::printf("END 1\n");
    return 0;
}
