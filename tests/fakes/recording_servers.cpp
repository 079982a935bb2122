#include "fakes/recording_servers.h"

#include <algorithm>
#include <stdexcept>

#include "base/failure.h"
#include "base/utf.h"
#include "text/case.h"

namespace vi2zezir::fakes {
namespace {

std::string U8(const std::u16string& s) { return text::ToUtf8(s); }

std::size_t FindNoCase(const std::u16string& haystack, const std::u16string& needle, std::size_t from = 0) {
    return text::LowerCase(haystack).find(text::LowerCase(needle), from);
}

// Typed entry, as far as the writers depend on it: a leading apostrophe is
// the hidden quote prefix, a leading "=" makes a formula, and any entry
// replaces the prefix the cell had.
void Enter(MemoryCell& cell, std::u16string content) {
    cell.prefixed = !content.empty() && content[0] == u'\'';
    if (cell.prefixed) content.erase(0, 1);
    cell.formula.clear();
    cell.value = Value();
    if (!cell.prefixed && !content.empty() && content[0] == u'=')
        cell.formula = std::move(content);
    else
        cell.value = Value(std::move(content));
}

class MemoryWorkbook final : public sheet::Workbook {
public:
    explicit MemoryWorkbook(std::shared_ptr<MemoryApp> app) : app_(std::move(app)) {}
    std::shared_ptr<sheet::Worksheet> Worksheets(std::int16_t index) override {
        app_->log->push_back("Worksheets(" + std::to_string(index) + ")");
        return app_->sheet;
    }

private:
    std::shared_ptr<MemoryApp> app_;
};

class MemoryWorkbooks final : public sheet::Workbooks {
public:
    explicit MemoryWorkbooks(std::shared_ptr<MemoryApp> app) : app_(std::move(app)) {}
    std::shared_ptr<sheet::Workbook> Open(const std::u16string& filename, bool readOnly) override {
        app_->log->push_back("Workbooks.Open(" + U8(filename) + "," + (readOnly ? "ReadOnly" : "ReadWrite") + ")");
        app_->openedPath = filename;
        return std::make_shared<MemoryWorkbook>(app_);
    }
    std::shared_ptr<sheet::Workbook> Item(std::int16_t index) override {
        app_->log->push_back("Workbooks(" + std::to_string(index) + ")");
        return std::make_shared<MemoryWorkbook>(app_);
    }

private:
    std::shared_ptr<MemoryApp> app_;
};

class RecordingDocFunctions final : public quote::DocFunctions {
public:
    explicit RecordingDocFunctions(std::shared_ptr<RecordingQuoteApp> app) : app_(std::move(app)) {}
    Value GetDocumentHeaderValue(const std::u16string& fieldName) override {
        app_->log->push_back("GetDocumentHeaderValue(" + U8(fieldName) + ")");
        auto it = app_->data.header.find(fieldName);
        return it == app_->data.header.end() ? Value(std::u16string()) : it->second;
    }

private:
    std::shared_ptr<RecordingQuoteApp> app_;
};

class RecordingItemFunctions final : public quote::ItemFunctions {
public:
    explicit RecordingItemFunctions(std::shared_ptr<RecordingQuoteApp> app) : app_(std::move(app)) {}
    Value LineItemCount() override {
        app_->log->push_back("LineItemCount");
        return Value(static_cast<std::int32_t>(app_->data.items.size()));
    }
    Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) override {
        app_->log->push_back("LineItemGetValue(" + std::to_string(lineIndex) + "," + U8(fieldName) + ")");
        if (lineIndex < 0 || static_cast<std::size_t>(lineIndex) >= app_->data.items.size())
            return fieldName == u"LineType" ? Value(std::int32_t{0}) : Value(std::u16string(u"x"));
        const auto& line = app_->data.items[static_cast<std::size_t>(lineIndex)];
        auto it = line.find(fieldName);
        if (it != line.end()) return it->second;
        return fieldName == u"LineType" ? Value(std::int32_t{0}) : Value(std::u16string());
    }

private:
    std::shared_ptr<RecordingQuoteApp> app_;
};

} // namespace

std::size_t Count(const CallLog& log, const std::string& call) {
    return static_cast<std::size_t>(std::count_if(
        log.begin(), log.end(), [&](const std::string& e) { return e == call || e.rfind(call + "(", 0) == 0; }));
}

std::pair<int, int> ParseA1(const std::u16string& address) {
    int col = 0, row = 0;
    std::size_t i = 0;
    while (i < address.size() && address[i] >= u'A' && address[i] <= u'Z') col = col * 26 + (address[i++] - u'A' + 1);
    while (i < address.size() && address[i] >= u'0' && address[i] <= u'9') row = row * 10 + (address[i++] - u'0');
    if (i != address.size() || col == 0 || row == 0)
        throw Failure(kApplicationDefined, u"Method 'Range' of object '_Worksheet' failed");
    return {row - 1, col - 1};
}

std::string ToA1(int row, int col) {
    std::string letters;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row + 1);
}

RecordingQuoteApp::RecordingQuoteApp(QuoteData d, std::shared_ptr<CallLog> l) : data(std::move(d)), log(std::move(l)) {}

Value RecordingQuoteApp::VersionMajor() {
    log->push_back("VersionMajor");
    return data.versionMajor;
}

std::shared_ptr<quote::DocFunctions> RecordingQuoteApp::DocFunctions() {
    log->push_back("DocFunctions");
    return std::make_shared<RecordingDocFunctions>(shared_from_this());
}

std::shared_ptr<quote::ItemFunctions> RecordingQuoteApp::ItemFunctions() {
    log->push_back("ItemFunctions");
    return std::make_shared<RecordingItemFunctions>(shared_from_this());
}

Value RecordingQuoteApp::GetMacro(std::u16string& placeholder) {
    log->push_back("GetMacro(" + U8(placeholder) + ")");
    auto it = data.macros.find(placeholder);
    return it == data.macros.end() ? Value(std::u16string()) : it->second;
}

MemoryRange::MemoryRange(std::shared_ptr<MemorySheet> sheet, std::optional<std::pair<int, int>> cell)
    : sheet_(std::move(sheet)), cell_(cell) {}

std::shared_ptr<sheet::Range> MemoryRange::Find(const std::u16string& what) {
    sheet_->log->push_back("Find(" + U8(what) + ")");
    // By rows, starting after A1; A1 is searched last.
    std::optional<std::pair<int, int>> a1Match;
    for (const auto& [pos, cell] : sheet_->cells) {
        if (FindNoCase(cell.Content(), what) == std::u16string::npos) continue;
        if (pos == std::pair<int, int>{0, 0}) {
            a1Match = pos;
            continue;
        }
        auto range = std::make_shared<MemoryRange>(sheet_, pos);
        sheet_->liveRanges.push_back(range);
        return range;
    }
    if (!a1Match) return nullptr;
    auto range = std::make_shared<MemoryRange>(sheet_, a1Match);
    sheet_->liveRanges.push_back(range);
    return range;
}

void MemoryRange::Replace(const std::u16string& what, const std::u16string& replacement) {
    sheet_->log->push_back("Replace(" + U8(what) + "," + U8(replacement) + ")");
    if (what.empty()) return;
    for (auto& [pos, cell] : sheet_->cells) {
        std::u16string content = cell.Content();
        bool changed = false;
        for (std::size_t at = FindNoCase(content, what); at != std::u16string::npos;
             at = FindNoCase(content, what, at + replacement.size())) {
            content.replace(at, what.size(), replacement);
            changed = true;
        }
        if (!changed) continue;
        // Re-entered as typed, except that a cell with the quote prefix
        // keeps it: its text stays text, whatever it reads now.
        if (cell.prefixed)
            cell.value = Value(std::move(content));
        else
            Enter(cell, std::move(content));
    }
}

std::u16string MemoryRange::Address() {
    sheet_->log->push_back("Address");
    std::string a1 = ToA1(cell_->first, cell_->second);
    std::size_t digit = a1.find_first_of("0123456789");
    std::string absolute = "$";
    absolute.append(a1, 0, digit).append("$").append(a1, digit);
    return text::FromUtf8(absolute);
}

void MemoryRange::Insert(std::int32_t shift) {
    sheet_->log->push_back("Insert(" + std::to_string(shift) + ")");
    const auto [row, col] = *cell_;
    std::map<std::pair<int, int>, MemoryCell> moved;
    for (auto it = sheet_->cells.begin(); it != sheet_->cells.end();) {
        if (it->first.second == col && it->first.first >= row) {
            moved.emplace(std::pair{it->first.first + 1, col}, std::move(it->second));
            it = sheet_->cells.erase(it);
        } else {
            ++it;
        }
    }
    sheet_->cells.merge(moved);
    // Ranges follow their cells; this one names the new, empty cell.
    for (auto& weak : sheet_->liveRanges) {
        auto range = weak.lock();
        if (!range || range.get() == this || !range->cell_) continue;
        if (range->cell_->second == col && range->cell_->first >= row) ++range->cell_->first;
    }
}

std::shared_ptr<sheet::Range> MemoryRange::Cells() {
    sheet_->log->push_back("Cells");
    auto range = std::make_shared<MemoryRange>(sheet_, cell_);
    sheet_->liveRanges.push_back(range);
    return range;
}

void MemoryRange::SetValue(const Value& value) {
    sheet_->log->push_back("Value=" + U8(ToText(value)));
    MemoryCell& cell = sheet_->cells[*cell_];
    if (value.IsText()) return Enter(cell, value.AsText());
    cell = MemoryCell{value, {}, false};
}

void MemoryRange::SetFormula(const std::u16string& formula) {
    sheet_->log->push_back("Formula=" + U8(formula));
    sheet_->cells[*cell_] = MemoryCell{Value(), formula, false};
}

std::shared_ptr<sheet::Range> MemorySheet::Cells() {
    log->push_back("Worksheet.Cells");
    return std::make_shared<MemoryRange>(shared_from_this(), std::nullopt);
}

std::shared_ptr<sheet::Range> MemorySheet::Range(const std::u16string& cell1) {
    log->push_back("Range(" + U8(cell1) + ")");
    auto range = std::make_shared<MemoryRange>(shared_from_this(), ParseA1(cell1));
    liveRanges.push_back(range);
    return range;
}

void MemorySheet::Put(const std::string& address, const std::u16string& text) {
    Enter(cells[ParseA1(text::FromUtf8(address))], text);
}

const MemoryCell* MemorySheet::At(const std::string& address) const {
    auto it = cells.find(ParseA1(text::FromUtf8(address)));
    return it == cells.end() ? nullptr : &it->second;
}

std::u16string MemorySheet::Text(const std::string& address) const {
    const MemoryCell* cell = At(address);
    return cell ? cell->Content() : std::u16string();
}

std::shared_ptr<sheet::Workbooks> MemoryApp::Workbooks() {
    log->push_back("Application.Workbooks");
    return std::make_shared<MemoryWorkbooks>(shared_from_this());
}

void MemoryApp::SetVisible(bool v) {
    log->push_back(std::string("Visible=") + (v ? "True" : "False"));
    visible = v;
}

void MemoryApp::Quit() {
    log->push_back("Quit");
    quit = true;
}

std::shared_ptr<quote::Application> RecordingServices::GetObject(const std::u16string& className) {
    log->push_back("GetObject(" + U8(className) + ")");
    if (!quoteApp) throw Failure(kCannotCreateObject);
    return quoteApp;
}

std::shared_ptr<sheet::Application> RecordingServices::CreateObject(const std::u16string& className) {
    log->push_back("CreateObject(" + U8(className) + ")");
    lastApp = std::make_shared<MemoryApp>(sheet, log);
    return lastApp;
}

} // namespace vi2zezir::fakes
