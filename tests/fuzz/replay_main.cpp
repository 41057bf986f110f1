// Replays a fuzz target's corpus under the normal compiler: every regular file below the paths
// named on the command line goes through LLVMFuzzerTestOneInput once, in name order. A crash or a
// sanitizer report fails the run; a path without any input fails it too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Absolute paths, taken before the first input runs: a target may change the working directory.
std::vector<std::filesystem::path> inputs_under(const char* arg) {
    namespace fs = std::filesystem;
    std::vector<fs::path> found;
    std::error_code ec;
    fs::path root = fs::absolute(arg, ec);
    if (fs::is_regular_file(root, ec)) {
        found.push_back(root);
    } else if (fs::is_directory(root, ec)) {
        for (const auto& entry : fs::recursive_directory_iterator(root, ec))
            if (entry.is_regular_file(ec)) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> all;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> found = inputs_under(argv[i]);
        if (found.empty()) {
            std::fprintf(stderr, "no input found under %s\n", argv[i]);
            return 1;
        }
        all.insert(all.end(), found.begin(), found.end());
    }
    for (const auto& path : all) {
        std::vector<uint8_t> bytes = read_bytes(path);
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.string().c_str(), bytes.size());
        // Like libFuzzer, an empty input still comes with a valid pointer.
        static const uint8_t no_bytes = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &no_bytes : bytes.data(), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", all.size());
    return 0;
}
