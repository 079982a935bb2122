// Checks the formula evaluator against the results Excel stored: for every
// .xls file given (or found under a folder given), every formula of its first
// worksheet is evaluated from the stored results around it and compared with
// its own stored result. Prints each disagreement and the counts per file and
// in all; exits 1 when any formula disagrees.
//
//     eval_check [--quiet | --declined] FILE_OR_FOLDER...
//
// --declined lists the formulas the evaluator declines as well.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "workbook/sheet/model.h"
#include "workbook/sheet/recalc.h"

namespace {

namespace fs = std::filesystem;
using vi2zezir::workbook::StoredResultsCheck;

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string CellName(std::uint32_t row, std::uint16_t col) {
    std::string letters;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row + 1);
}

} // namespace

int main(int argc, char** argv) {
    bool quiet = false, declined = false;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quiet") == 0) {
            quiet = true;
            continue;
        }
        if (std::strcmp(argv[i], "--declined") == 0) {
            declined = true;
            continue;
        }
        const fs::path arg = argv[i];
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::recursive_directory_iterator(arg))
                if (entry.is_regular_file() && entry.path().extension() == ".xls") files.push_back(entry.path());
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    StoredResultsCheck total;
    std::size_t disagreeing = 0, unread = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        StoredResultsCheck check;
        try {
            auto wb = vi2zezir::workbook::Workbook::Load(bytes);
            check = vi2zezir::workbook::CheckStoredResults(*wb);
        } catch (const std::exception&) {
            ++unread;
            continue;
        }
        if (check.formulas == 0) continue;
        std::printf("%-60s %6zu formulas %6zu agree %6zu declined %6zu disagree\n", path.filename().c_str(),
                    check.formulas, check.agreeing, check.declined, check.disagreements.size());
        if (!quiet)
            for (const auto& d : check.disagreements)
                std::printf("    %s %s stored %s computed %s\n", CellName(d.row, d.col).c_str(),
                            Utf8(d.formula).c_str(), Utf8(d.stored).c_str(), Utf8(d.computed).c_str());
        if (declined)
            for (const auto& d : check.declinedCells)
                std::printf("    %s %s stored %s declined\n", CellName(d.row, d.col).c_str(), Utf8(d.formula).c_str(),
                            Utf8(d.stored).c_str());
        total.formulas += check.formulas;
        total.agreeing += check.agreeing;
        total.declined += check.declined;
        disagreeing += check.disagreements.size();
    }
    std::printf("%zu files (%zu not readable): %zu formulas, %zu agree, %zu declined, %zu disagree\n", files.size(),
                unread, total.formulas, total.agreeing, total.declined, disagreeing);
    return disagreeing == 0 ? 0 : 1;
}
