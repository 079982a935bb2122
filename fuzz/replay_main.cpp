// For compilers without libFuzzer: a main that runs the target once over
// every file named on the command line (or every file in a named directory),
// so the targets still build and replay their corpora as plain programs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunOne(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    std::size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        if (arg.string().starts_with("-")) continue; // libFuzzer flags are ignored
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file()) RunOne(entry.path()), ++runs;
        } else {
            RunOne(arg), ++runs;
        }
    }
    std::printf("replayed %zu inputs\n", runs);
    return 0;
}
