// Prints the 32-bit FNV-1a checksum of a file as eight hex digits, the way
// the demo device states it, so that a benchmark can tell intact bytes.
#include <cstdint>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrin-bench-fnv1a FILE\n");
        return 2;
    }
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    uint32_t state = 2166136261u;
    unsigned char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        for (size_t i = 0; i < n; ++i) {
            state ^= buffer[i];
            state *= 16777619u;
        }
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "%s: read error\n", argv[1]);
        return 1;
    }
    std::printf("%08x\n", state);
    return 0;
}
