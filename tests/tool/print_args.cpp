// Prints its arguments, one a line, then the loader's path: what a program
// started by marlek-sim run receives.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) std::printf("arg:%s\n", argv[i]);
#ifdef _WIN32
    const char* path = std::getenv("PATH");
#else
    const char* path = std::getenv("LD_LIBRARY_PATH");
#endif
    std::printf("path:%s\n", path != nullptr ? path : "(not set)");
    return argc - 1;
}
