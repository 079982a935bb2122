// Templates for the check's tests, each holding the mistakes a template
// author makes (tests/data/check, described in its README), and the real
// transfer the check's predictions are held to.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "check/simulation.h"

namespace vi2zezir::test {

namespace fs = std::filesystem;

const fs::path kQuote40 = fs::path(VZ_SOURCE_DIR) / "examples" / "quote40.xls";
const fs::path kCheckData = fs::path(VZ_SOURCE_DIR) / "tests" / "data" / "check";
const fs::path kMistakes = kCheckData / "mistakes.xls";
const fs::path kSpread = kCheckData / "spread.xls";
const fs::path kClean = kCheckData / "clean.xls";

// A file name of its own in the temporary directory.
fs::path TempFile(const std::string& name);

// The filled workbook of a real transfer: the engine, the three writers and
// a quoting application answering the check's marker values, two ordinary
// lines. Texts of the filled sheet by position, and of every sheet by name.
struct FilledWorkbook {
    std::map<std::pair<std::uint32_t, std::uint16_t>, std::u16string> filled;
    std::map<std::u16string, std::map<std::pair<std::uint32_t, std::uint16_t>, std::u16string>> sheets;
    std::u16string At(check::CellPos pos) const;
};
FilledWorkbook RealTransfer(const fs::path& templatePath, std::u16string_view versionMajor);

} // namespace vi2zezir::test
