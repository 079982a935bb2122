// Recording fakes of both automation servers. Every call is logged by name,
// property gets that hand out objects included (each is a round trip to the
// server), so tests can check what the order and count of calls must be; the
// sheet has the spreadsheet semantics the writers rely on (case-insensitive
// substring find by rows after A1 with A1 last, replace-all, insert shifting
// one column down, ranges that follow their cell).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "servers/object_services.h"
#include "servers/value.h"

namespace vi2zezir::fakes {

using CallLog = std::vector<std::string>;

// Counts the log entries equal to `call` or starting with `call` + "(".
std::size_t Count(const CallLog& log, const std::string& call);

struct QuoteData {
    Value versionMajor{std::u16string(u"4")};
    std::map<std::u16string, Value> header;
    std::vector<std::map<std::u16string, Value>> items;
    std::map<std::u16string, Value> macros;
};

class RecordingQuoteApp final : public quote::Application, public std::enable_shared_from_this<RecordingQuoteApp> {
public:
    RecordingQuoteApp(QuoteData data, std::shared_ptr<CallLog> log);
    Value VersionMajor() override;
    std::shared_ptr<quote::DocFunctions> DocFunctions() override;
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override;
    Value GetMacro(std::u16string& placeholder) override;

    QuoteData data;
    std::shared_ptr<CallLog> log;
};

// One cell of the memory sheet: a constant or a formula's text.
struct MemoryCell {
    Value value;
    std::u16string formula; // non-empty for a formula cell
    // The quote prefix, as Excel keeps it in the cell's format: entered with
    // a leading apostrophe, which is no part of the content, and kept by a
    // Replace, which leaves the cell text.
    bool prefixed = false;
    std::u16string Content() const { return formula.empty() ? ToText(value) : formula; }
};

class MemorySheet;

class MemoryRange final : public sheet::Range {
public:
    MemoryRange(std::shared_ptr<MemorySheet> sheet, std::optional<std::pair<int, int>> cell);
    std::shared_ptr<sheet::Range> Find(const std::u16string& what) override;
    void Replace(const std::u16string& what, const std::u16string& replacement) override;
    std::u16string Address() override;
    void Insert(std::int32_t shift) override;
    std::shared_ptr<sheet::Range> Cells() override;
    void SetValue(const Value& value) override;
    void SetFormula(const std::u16string& formula) override;

    std::shared_ptr<MemorySheet> sheet_;
    std::optional<std::pair<int, int>> cell_; // (row, col) zero-based; nullopt = all cells
};

class MemorySheet final : public sheet::Worksheet, public std::enable_shared_from_this<MemorySheet> {
public:
    explicit MemorySheet(std::shared_ptr<CallLog> log) : log(std::move(log)) {}
    std::shared_ptr<sheet::Range> Cells() override;
    std::shared_ptr<sheet::Range> Range(const std::u16string& cell1) override;

    // Test access by A1 address ("B7"); Put enters the text as typed.
    void Put(const std::string& address, const std::u16string& text);
    std::u16string Text(const std::string& address) const;
    const MemoryCell* At(const std::string& address) const;

    std::map<std::pair<int, int>, MemoryCell> cells; // ordered by rows, then columns
    std::vector<std::weak_ptr<MemoryRange>> liveRanges;
    std::shared_ptr<CallLog> log;
};

class MemoryApp final : public sheet::Application, public std::enable_shared_from_this<MemoryApp> {
public:
    explicit MemoryApp(std::shared_ptr<MemorySheet> sheet, std::shared_ptr<CallLog> log)
        : sheet(std::move(sheet)), log(std::move(log)) {}
    std::shared_ptr<sheet::Workbooks> Workbooks() override;
    void SetVisible(bool visible) override;
    void Quit() override;

    std::shared_ptr<MemorySheet> sheet;
    std::shared_ptr<CallLog> log;
    std::u16string openedPath;
    bool visible = false;
    bool quit = false;
};

// Object services handing out the fakes; quoteApp empty = Tendrix not running.
class RecordingServices final : public ObjectServices {
public:
    explicit RecordingServices(std::shared_ptr<CallLog> log) : log(std::move(log)) {}
    std::shared_ptr<quote::Application> GetObject(const std::u16string& className) override;
    std::shared_ptr<sheet::Application> CreateObject(const std::u16string& className) override;

    std::shared_ptr<RecordingQuoteApp> quoteApp;
    std::shared_ptr<MemorySheet> sheet; // the first worksheet of every template opened
    std::shared_ptr<MemoryApp> lastApp;
    std::shared_ptr<CallLog> log;
};

// A1 address helpers for the fakes and tests.
std::pair<int, int> ParseA1(const std::u16string& address);
std::string ToA1(int row, int col);

} // namespace vi2zezir::fakes
