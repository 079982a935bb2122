#include "check/check_templates.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "export/writers.h"
#include "quote_template.h"
#include "servers/quote_source.h"
#include "workbook/cfb.h"
#include "workbook/engine.h"
#include "workbook/workbook_model.h"
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

fs::path EditedQuote40(const std::string& name, const std::vector<std::pair<std::u16string, std::u16string>>& cells) {
    const fs::path out = TempFile(name);
    auto app = workbook::CreateApplication({.outputPath = out, .onSaved = {}});
    auto sheet = app->Workbooks()->Open(kQuote40.u16string(), true)->Worksheets(1);
    for (const auto& [address, text] : cells)
        sheet->Range(address)->Cells()->SetValue(text.empty() ? Value() : Value(text));
    app->SetVisible(true);
    app->Quit();
    return out;
}

fs::path CleanTemplate(const std::string& name) {
    namespace qt = tools::quote_template;
    auto book = qt::BuildQuoteTemplate();
    book.sheets.resize(1);  // no notes sheet
    const std::map<std::u16string, std::u16string> replace = {
        {u"&DH_ShipVia", u"&DH_DocDueDate"},
        {u"&DH_SoldToCity, &DH_SoldToState &DH_SoldToPostalCode", u"&DH_SoldToCity, &DH_SoldToState"},
        {u"&DH_ShipToCity, &DH_ShipToState &DH_ShipToPostalCode", u"&DH_ShipToAddress3"},
        {u"&DI_ManufacturerPartNumber", u"&DI_CustomText01"},
        {u"&DI_Description", u"&di_description"},  // any letter case is found
    };
    for (auto& cell : book.sheets[0].cells) {
        auto* text = std::get_if<std::u16string>(&cell.content);
        if (text && replace.count(*text)) *text = replace.at(*text);
    }
    workbook::cfb::CompoundFile file;
    workbook::cfb::Entry stream;
    stream.name = u"Workbook";
    stream.type = workbook::cfb::Entry::Type::Stream;
    stream.data = tools::biff::WriteWorkbookStream(book);
    file.entries.push_back(std::move(stream));
    const fs::path out = TempFile(name);
    const auto bytes = workbook::cfb::Write(file);
    std::ofstream(out, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
    return out;
}

std::u16string FilledWorkbook::At(check::CellPos pos) const {
    const auto it = filled.find({pos.row, pos.col});
    return it == filled.end() ? std::u16string() : it->second;
}

FilledWorkbook RealTransfer(const fs::path& templatePath, std::u16string_view versionMajor) {
    const fs::path out = TempFile("filled-" + std::string(versionMajor.begin(), versionMajor.end()) + "-" +
                                  templatePath.filename().string());
    auto app = workbook::CreateApplication({.outputPath = out, .onSaved = {}});
    auto sheet = app->Workbooks()->Open(templatePath.u16string(), true)->Worksheets(1);
    MarkerQuote quote{std::u16string(versionMajor)};
    transfer::WriteHeaderFields(quote, *sheet);
    transfer::WriteItemFields(quote, *sheet);
    transfer::WriteMacroFields(quote, *sheet);
    app->SetVisible(true);
    app->Quit();

    // Read back from the file, as the user's spreadsheet would.
    const auto bytes = ReadAll(out);
    auto book = workbook::Workbook::Load(bytes);
    FilledWorkbook result;
    for (std::size_t s = 0; s < book->SheetCount(); ++s) {
        auto& texts = result.sheets[book->SheetNameAt(s)];
        for (auto& t : book->SheetTexts(s)) texts[{t.row, t.col}] = t.text;
        if (s == book->EditableSheet()) result.filled = texts;
    }
    fs::remove(out);
    return result;
}

} // namespace vi2zezir::test
