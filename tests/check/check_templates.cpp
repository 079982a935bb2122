#include "check/check_templates.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "servers/quote_source.h"
#include "transfer/writers.h"
#include "workbook/contents.h"
#include "workbook/engine.h"

namespace vi2zezir::test {
namespace {

// The quoting application of the real transfer. It answers with the check's
// markers, but is written here and not borrowed from the check.
class MarkerItems : public quote::ItemFunctions {
public:
    Value LineItemCount() override { return check::kSimulatedLines; }
    Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) override {
        if (fieldName == u"LineType") return std::int16_t{1};
        return check::ItemMarker(fieldName, lineIndex + 1);
    }
};

class MarkerHeader : public quote::DocFunctions {
public:
    Value GetDocumentHeaderValue(const std::u16string& fieldName) override { return check::HeaderMarker(fieldName); }
};

class MarkerQuote : public quote::Application {
public:
    explicit MarkerQuote(std::u16string version) : version_(std::move(version)) {}
    Value VersionMajor() override { return version_; }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override { return std::make_shared<MarkerHeader>(); }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override { return std::make_shared<MarkerItems>(); }
    Value GetMacro(std::u16string& placeholder) override { return check::MacroMarker(placeholder); }

private:
    std::u16string version_;
};

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

fs::path TempFile(const std::string& name) {
    const fs::path path = fs::temp_directory_path() / ("vz-check-" + std::to_string(::getpid()) + "-" + name);
    fs::remove(path);
    return path;
}

std::u16string FilledWorkbook::At(check::CellPos pos) const {
    const auto it = filled.find({pos.row, pos.col});
    return it == filled.end() ? std::u16string() : it->second;
}

FilledWorkbook RealTransfer(const fs::path& templatePath, std::u16string_view versionMajor) {
    const fs::path out = TempFile("filled-" + std::string(versionMajor.begin(), versionMajor.end()) + "-" +
                                  templatePath.filename().string());
    auto app = workbook::CreateApplication({.outputPath = out, .onSaved = {}, .newFileFolder = {}});
    auto sheet = app->Workbooks()->Open(templatePath.u16string(), true)->Worksheets(1);
    MarkerQuote quote{std::u16string(versionMajor)};
    transfer::WriteHeaderFields(quote, *sheet);
    transfer::WriteItemFields(quote, *sheet);
    transfer::WriteMacroFields(quote, *sheet);
    app->SetVisible(true);
    app->Quit();

    // Read back from the file, as the user's spreadsheet would.
    const auto bytes = ReadAll(out);
    const auto book = workbook::ReadContents(bytes);
    FilledWorkbook result;
    for (std::size_t s = 0; s < book.sheets.size(); ++s) {
        auto& texts = result.sheets[book.sheets[s].name];
        for (const auto& t : book.sheets[s].texts) texts[{t.row, t.col}] = t.text;
        if (s == book.editableSheet) result.filled = texts;
    }
    fs::remove(out);
    return result;
}

} // namespace vi2zezir::test
