#include "check/check_templates.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "quote_template.h"
#include "servers/quote_source.h"
#include "transfer/writers.h"
#include "workbook/engine.h"
#include "workbook/inspect.h"
#include "workbook/xls/cfb.h"
#include "workbook_writer.h"

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

// "A4" -> zero-based row 3, column 0. Test addresses only: no checks.
std::pair<std::uint16_t, std::uint16_t> RowAndColumn(std::u16string_view address) {
    std::size_t i = 0;
    int col = 0, row = 0;
    for (; i < address.size() && address[i] >= u'A' && address[i] <= u'Z'; ++i)
        col = col * 26 + (address[i] - u'A' + 1);
    for (; i < address.size(); ++i) row = row * 10 + (address[i] - u'0');
    return {static_cast<std::uint16_t>(row - 1), static_cast<std::uint16_t>(col - 1)};
}

fs::path WriteBook(const tools::biff::Workbook& book, const std::string& name) {
    workbook::cfb::CompoundFile file;
    workbook::cfb::Entry stream;
    stream.name = u"Workbook";
    stream.type = workbook::cfb::Entry::Type::Stream;
    stream.data = tools::biff::WriteWorkbookStream(book);
    file.entries.push_back(std::move(stream));
    const fs::path out = TempFile(name);
    const auto bytes = workbook::cfb::Write(file);
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out;
}

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

fs::path EditedQuote40(const std::string& name, const CellEdits& cells) {
    // The engine changes the first worksheet only, so cells of another sheet
    // go into the generator's workbook, which is the committed file's content.
    fs::path base = kQuote40, staged;
    std::vector<std::pair<std::u16string, std::u16string>> firstSheet;
    std::optional<tools::biff::Workbook> book;
    for (const auto& cell : cells) {
        const std::u16string& address = cell.first;
        const auto bang = address.find(u'!');
        if (bang == std::u16string::npos) {
            firstSheet.push_back(cell);
            continue;
        }
        if (!book) book = tools::quote_template::BuildQuoteTemplate();
        const std::u16string sheetName = address.substr(0, bang);
        const auto sheet =
            std::find_if(book->sheets.begin(), book->sheets.end(), [&](const auto& s) { return s.name == sheetName; });
        if (sheet == book->sheets.end()) throw std::runtime_error("no such sheet in quote40");
        const auto pos = RowAndColumn(std::u16string_view(address).substr(bang + 1));
        std::erase_if(sheet->cells, [&](const auto& c) { return c.row == pos.first && c.col == pos.second; });
        sheet->cells.push_back({pos.first, pos.second, 0, cell.second});
    }
    if (book) base = staged = WriteBook(*book, "base-" + name);

    const fs::path out = TempFile(name);
    auto app = workbook::CreateApplication({.outputPath = out, .onSaved = {}, .newFileFolder = {}});
    auto sheet = app->Workbooks()->Open(base.u16string(), true)->Worksheets(1);
    for (const auto& [address, text] : firstSheet)
        sheet->Range(address)->Cells()->SetValue(text.empty() ? Value() : Value(text));
    app->SetVisible(true);
    app->Quit();
    if (!staged.empty()) fs::remove(staged);
    return out;
}

fs::path CleanTemplate(const std::string& name) {
    namespace qt = tools::quote_template;
    auto book = qt::BuildQuoteTemplate();
    book.sheets.resize(1); // no notes sheet
    const std::map<std::u16string, std::u16string> replace = {
        {u"&DI_Description", u"&di_description"}, // any letter case is found
    };
    for (auto& cell : book.sheets[0].cells) {
        auto* text = std::get_if<std::u16string>(&cell.content);
        if (text && replace.count(*text)) *text = replace.at(*text);
    }
    return WriteBook(book, name);
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
