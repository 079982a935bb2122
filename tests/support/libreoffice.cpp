#include "support/libreoffice.h"

#include <cstdio>
#include <sys/wait.h>

namespace vi2zezir::test {

namespace {

std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            fields.emplace_back();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
        } else {
            fields.back() += line[i];
        }
    }
    return fields;
}

} // namespace

const LoCell* LoSheet::At(std::string_view address) const {
    auto it = cells.find(std::string(address));
    return it == cells.end() ? nullptr : &it->second;
}

std::string LoSheet::Value(std::string_view address) const {
    const LoCell* cell = At(address);
    return cell != nullptr ? cell->value : std::string{};
}

std::string LoSheet::Formula(std::string_view address) const {
    const LoCell* cell = At(address);
    return cell != nullptr ? cell->formula : std::string{};
}

std::optional<std::vector<LoSheet>> ReadAllSheetsWithLibreOffice(const std::filesystem::path& workbook,
                                                                 std::string* whyNot, LoOptions options) {
    const std::string command = "/usr/bin/python3 " + ShellQuoted(VZ_LO_READ_SCRIPT) + " " +
                                ShellQuoted(workbook.string()) + " " + std::to_string(options.timeout.count()) +
                                " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw LibreOfficeError("cannot start " + command);
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
        if (whyNot != nullptr) {
            *whyNot = output;
        }
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw LibreOfficeError("reading " + workbook.string() + " with LibreOffice failed: " + output);
    }
    std::vector<LoSheet> sheets;
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::vector<std::string> f = Fields(output.substr(start, end - start));
        if (f[0] == "S" && f.size() == 2) {
            sheets.emplace_back().name = f[1];
            names.push_back(f[1]);
        } else if (sheets.empty()) {
            throw LibreOfficeError("unexpected reader output: " + output);
        } else if (f[0] == "C" && f.size() == 8) {
            sheets.back().cells[f[1]] = LoCell{f[3], f[4], f[5], f[2], f[6] == "1", std::stod(f[7])};
        } else if (f.size() == 2) {
            (f[0] == "M"   ? sheets.back().merges
             : f[0] == "F" ? sheets.back().conditionalFormats
                           : sheets.back().validations)
                .push_back(f[1]);
        }
    }
    for (LoSheet& sheet : sheets) {
        sheet.sheetNames = names;
    }
    return sheets;
}

std::optional<LoSheet> ReadWithLibreOffice(const std::filesystem::path& workbook, std::string* whyNot,
                                           LoOptions options) {
    auto sheets = ReadAllSheetsWithLibreOffice(workbook, whyNot, options);
    if (!sheets) {
        return std::nullopt;
    }
    if (sheets->empty()) {
        throw LibreOfficeError("LibreOffice read no sheet from " + workbook.string());
    }
    return std::move(sheets->front());
}

} // namespace vi2zezir::test
