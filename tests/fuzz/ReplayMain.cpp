// Runs a fuzz target without libFuzzer: every file of the corpus folders given
// on the command line, then a fixed number of deterministic mutations of them.
// This is the short run that the ordinary test suite makes of each target;
// the long, coverage-guided runs use the clang build with libFuzzer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    long runs = 20000;
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (corpus.empty())
        corpus.emplace_back();
    for (const auto& input : corpus)
        LLVMFuzzerTestOneInput(input.data(), input.size());
    std::mt19937 rng(12345);
    for (long r = 0; r < runs; ++r) {
        std::vector<uint8_t> input = corpus[rng() % corpus.size()];
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) {
            const size_t at = input.empty() ? 0 : rng() % (input.size() + 1);
            switch (rng() % 5) {
            case 0:
                if (!input.empty())
                    input[at % input.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                break;
            case 1:
                input.insert(input.begin() + static_cast<long>(at), static_cast<uint8_t>(rng()));
                break;
            case 2:
                if (!input.empty())
                    input.erase(input.begin() + static_cast<long>(at % input.size()));
                break;
            case 3: {
                const auto& other = corpus[rng() % corpus.size()];
                if (!other.empty()) {
                    size_t from = rng() % other.size();
                    size_t len = std::min<size_t>(other.size() - from, 1 + rng() % 64);
                    input.insert(input.begin() + static_cast<long>(at), other.begin() + static_cast<long>(from),
                                 other.begin() + static_cast<long>(from + len));
                }
                break;
            }
            default:
                if (!input.empty())
                    input[at % input.size()] = static_cast<uint8_t>("<> /\r\n\0GETSHIN"[rng() % 15]);
                break;
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu corpus inputs and %ld mutations ran clean\n", corpus.size(), runs);
    return 0;
}
