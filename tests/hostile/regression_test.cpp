// Every input that ever made a fuzz target fail is kept under
// tests/data/regressions/<target>/ and replayed here through that target's
// own code (compiled into this program under a name of its own), so a fault
// found once stays fixed in every build, sanitized or not.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#define VZ_DECLARE_TARGET(name) extern "C" int VzFuzz_##name(const std::uint8_t* data, std::size_t size);
VZ_DECLARE_TARGET(cfb_fuzz)
VZ_DECLARE_TARGET(xls_fuzz)
VZ_DECLARE_TARGET(formula_fuzz)
VZ_DECLARE_TARGET(fill_fuzz)
VZ_DECLARE_TARGET(quote_document_fuzz)
VZ_DECLARE_TARGET(command_line_fuzz)
VZ_DECLARE_TARGET(xlsx_package_fuzz)

namespace {

namespace fs = std::filesystem;
using Target = int (*)(const std::uint8_t*, std::size_t);

// The number of inputs replayed.
std::size_t Replay(const char* target, Target run) {
    const fs::path dir = fs::path(VZ_REGRESSION_DIR) / target;
    if (!fs::is_directory(dir)) return 0;
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
        SCOPED_TRACE(entry.path().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(run(bytes.data(), bytes.size()), 0);
        ++count;
    }
    return count;
}

#define VZ_REPLAY(name)                                     \
    TEST(FuzzRegressions, name) {                           \
        const std::size_t n = Replay(#name, VzFuzz_##name); \
        RecordProperty("inputs", static_cast<int>(n));      \
    }

VZ_REPLAY(cfb_fuzz)
VZ_REPLAY(xls_fuzz)
VZ_REPLAY(formula_fuzz)
VZ_REPLAY(fill_fuzz)
VZ_REPLAY(quote_document_fuzz)
VZ_REPLAY(command_line_fuzz)
VZ_REPLAY(xlsx_package_fuzz)

// The replay must not pass by finding nothing: the kept inputs are there.
TEST(FuzzRegressions, KeptInputsAreFound) {
    std::size_t files = 0;
    if (fs::is_directory(VZ_REGRESSION_DIR))
        for (const auto& entry : fs::recursive_directory_iterator(VZ_REGRESSION_DIR))
            files += entry.is_regular_file() && !entry.path().filename().string().starts_with(".");
    EXPECT_GT(files, 0u);
}

} // namespace
