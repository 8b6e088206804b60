// Runs a fuzz target's entry point over stored inputs, without libFuzzer. The test run
// links every target with this main (under the sanitizers of its own build) and replays
// the target's seed corpus and regression inputs, so a fault that fuzzing once found
// cannot come back unnoticed. Arguments are files or folders (read recursively); a path
// that does not exist is skipped, but finding no input at all is an error. Each input is
// handed over in a heap block of exactly its size, as libFuzzer does, so that a read
// past its end is caught. The targets' own output (log records on stdout) is dropped
// unless ORBEL_FUZZ_VERBOSE is set.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CollectInputs(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const auto& entry : fs::recursive_directory_iterator(path)) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(path, error)) {
            inputs.push_back(path);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

bool ReadWhole(const fs::path& path, std::vector<char>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<fs::path> inputs = CollectInputs(argc, argv);
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs found in the paths given\n", argc > 0 ? argv[0] : "replay");
        return 2;
    }
    if (std::getenv("ORBEL_FUZZ_VERBOSE") == nullptr) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::fprintf(stderr, "stdout stays open\n");
    }

    const auto started = std::chrono::steady_clock::now();
    std::vector<char> bytes;
    for (const fs::path& input : inputs) {
        if (!ReadWhole(input, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 2;
        }
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.c_str(), bytes.size());
        const std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size()]);
        if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
        LLVMFuzzerTestOneInput(copy.get(), bytes.size());
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::fprintf(stderr, "replayed %zu inputs in %lld ms\n", inputs.size(), static_cast<long long>(elapsed.count()));
    return 0;
}
