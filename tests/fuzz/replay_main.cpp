// Replays a corpus through a fuzz target without libFuzzer: each argument is
// a file, or a folder whose files are fed in name order. A finding aborts,
// so this runs as an ordinary test with any compiler.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i])) {
            inputs.emplace_back(argv[i]);
            continue;
        }
        const size_t from = inputs.size();
        for (const auto& e : fs::directory_iterator(argv[i]))
            if (e.is_regular_file()) inputs.push_back(e.path());
        std::sort(inputs.begin() + from, inputs.end());
    }
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", p.c_str());
            return 2;
        }
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        // Shown by ctest only when the test fails: the last name is the culprit.
        std::printf("%s\n", p.c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return inputs.empty() ? 2 : 0;  // no inputs: a wrong path
}
