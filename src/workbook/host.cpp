// The SheetHost object model over the workbook model: Application,
// Workbooks, Workbook, Worksheet and Range, with a new Excel instance's
// behaviour and error 1004 where Excel refuses. Every engine Error that
// reaches the automation world becomes a Failure here, in Raise.
#include <cmath>
#include <fstream>
#include <system_error>

#include "base/failure.h"
#include "base/utf.h"
#include "workbook/engine.h"
#include "workbook/output_file.h"
#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {
namespace {

[[noreturn]] void Fail(std::u16string description, std::string source) {
    throw Failure(kApplicationDefined, std::move(description), std::move(source));
}

// The engine's edge: an Error as Excel reports a failed operation, error 1004
// with the reason, set in the operation's own words ("'q.xls' cannot be
// opened: <reason>."). Reasons are UTF-8 and may name sheets and parts in
// any script.
[[noreturn]] void Raise(const Error& error, std::string source, std::u16string_view lead = {},
                        std::u16string_view tail = {}) {
    Fail(std::u16string(lead) + text::FromUtf8(error.what()) + std::u16string(tail), std::move(source));
}

// Runs an engine operation, raising its Error.
template <class F>
void Guard(F&& operation, const char* source, std::u16string_view lead = {}, std::u16string_view tail = {}) {
    try {
        operation();
    } catch (const Error& e) {
        Raise(e, source, lead, tail);
    }
}

bool ParseA1(std::u16string_view text, std::uint32_t& row, std::uint16_t& col) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == u'$') ++i;
    unsigned c = 0, letters = 0;
    while (i < text.size() && FoldCase(text[i]) >= u'a' && FoldCase(text[i]) <= u'z' && letters < 4) {
        c = c * 26 + (FoldCase(text[i]) - u'a' + 1);
        ++i, ++letters;
    }
    if (letters == 0 || letters > 3 || c == 0 || c > formula::kMaxCols) return false;
    if (i < text.size() && text[i] == u'$') ++i;
    unsigned long r = 0, digits = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9' && digits < 7) {
        r = r * 10 + (text[i] - u'0');
        ++i, ++digits;
    }
    if (digits == 0 || i != text.size() || r == 0 || r > formula::kMaxRows) return false;
    row = static_cast<std::uint32_t>(r - 1);
    col = static_cast<std::uint16_t>(c - 1);
    return true;
}

// One open workbook and where it came from.
struct Book {
    std::unique_ptr<Workbook> model;
    std::filesystem::path path;
    bool saved = false;
};

class RangeImpl : public sheet::Range {
public:
    // All cells of the worksheet.
    explicit RangeImpl(std::shared_ptr<Book> book) : book_(std::move(book)) {}
    // One cell, followed through inserts while this range lives.
    RangeImpl(std::shared_ptr<Book> book, std::uint32_t row, std::uint16_t col) : book_(std::move(book)) {
        cell_.row = row;
        cell_.col = col;
        book_->model->Track(cell_);
        pos_ = &cell_;
    }
    ~RangeImpl() override {
        if (pos_ && book_->model) book_->model->Untrack(cell_);
    }
    RangeImpl(const RangeImpl&) = delete;
    RangeImpl& operator=(const RangeImpl&) = delete;

    std::shared_ptr<sheet::Range> Find(const std::u16string& what) override {
        auto& wb = Model("Find");
        if (pos_) {
            const auto text = Fold(wb.CellText(pos_->row, pos_->col));
            return text.find(Fold(what)) != std::u16string::npos && !what.empty() ? Cells() : nullptr;
        }
        const auto found = wb.Find(what);
        if (!found) return nullptr;
        return std::make_shared<RangeImpl>(book_, found->row, found->col);
    }

    void Replace(const std::u16string& what, const std::u16string& replacement) override {
        auto& wb = Model("Replace");
        if (pos_) Fail(u"Replace is supported on the worksheet's Cells only.", "Range.Replace");
        Guard([&] { wb.Replace(what, replacement); }, "Range.Replace");
    }

    std::u16string Address() override {
        if (!pos_) return u"$1:$" + text::FromUtf8(std::to_string(formula::kMaxRows));
        // Built in place: the item writer asks for it on every line.
        char16_t text[16];
        std::size_t n = 0;
        text[n++] = u'$';
        char16_t letters[4];
        std::size_t l = 0;
        for (unsigned c = pos_->col + 1u; c > 0; c = (c - 1) / 26)
            letters[l++] = static_cast<char16_t>(u'A' + (c - 1) % 26);
        while (l > 0) text[n++] = letters[--l];
        text[n++] = u'$';
        char16_t digits[8];
        std::size_t d = 0;
        for (std::uint32_t r = pos_->row + 1; r > 0; r /= 10) digits[d++] = static_cast<char16_t>(u'0' + r % 10);
        while (d > 0) text[n++] = digits[--d];
        return std::u16string(text, n);
    }

    void Insert(std::int32_t shift) override {
        auto& wb = Model("Insert");
        if (!pos_) Fail(u"Insert method of Range class failed: all cells cannot be shifted.", "Range.Insert");
        if (shift != sheet::xlShiftDown)
            Fail(u"Insert method of Range class failed: only Shift:=xlDown is supported.", "Range.Insert");
        Guard([&] { wb.InsertShiftDown(pos_->row, pos_->col); }, "Range.Insert");
    }

    std::shared_ptr<sheet::Range> Cells() override {
        if (!pos_) return std::make_shared<RangeImpl>(book_);
        Model("Cells");
        return std::make_shared<RangeImpl>(book_, pos_->row, pos_->col);
    }

    void SetValue(const Value& value) override {
        auto& wb = Model("Value");
        if (!pos_) Fail(u"Setting the value of all cells is not supported.", "Range.Value");
        Content c;
        switch (value.GetKind()) {
        case Value::Kind::Empty:
        case Value::Kind::Null: break; // clears the content, keeps the format
        case Value::Kind::Boolean:
            c.kind = CellKind::Boolean;
            c.small = value.AsBoolean() ? 1 : 0;
            break;
        case Value::Kind::Int16: c.kind = CellKind::Number, c.number = value.AsInt16(); break;
        case Value::Kind::Int32: c.kind = CellKind::Number, c.number = value.AsInt32(); break;
        case Value::Kind::Double:
            if (!std::isfinite(value.AsDouble())) Fail(u"Application-defined or object-defined error", "Range.Value");
            c.kind = CellKind::Number, c.number = value.AsDouble();
            break;
        case Value::Kind::Currency:
            // Stored to four decimals; a General cell shows it as currency.
            c.kind = CellKind::Number;
            c.number = static_cast<double>(value.AsCurrency().scaled) / 10000.0;
            c.numberFormat = wb.CustomFormat(u"\"$\"#,##0.00");
            break;
        case Value::Kind::Date:
            c.kind = CellKind::Number;
            c.number = value.AsDate().serial;
            c.numberFormat = 14; // m/d/yyyy, unless the cell shows dates already
            c.onlyWhenNoDateFormat = true;
            break;
        case Value::Kind::Text:
            Guard([&] { c = wb.ParseTypedInput(value.AsText(), pos_->row, pos_->col); }, "Range.Value");
            break;
        }
        Guard([&] { wb.PutContent(pos_->row, pos_->col, c); }, "Range.Value");
    }

    void SetFormula(const std::u16string& formula) override {
        auto& wb = Model("Formula");
        if (!pos_) Fail(u"Setting the formula of all cells is not supported.", "Range.Formula");
        // Text without "=" is a constant, entered as typed.
        Guard([&] { wb.PutContent(pos_->row, pos_->col, wb.ParseTypedInput(formula, pos_->row, pos_->col)); },
              "Range.Formula");
    }

private:
    Workbook& Model(const char* what) {
        if (!book_->model) Fail(u"The workbook has been closed.", std::string("Range.") + what);
        return *book_->model;
    }

    std::shared_ptr<Book> book_;
    TrackedPos cell_;
    TrackedPos* pos_ = nullptr; // &cell_, or nullptr for all cells
};

class WorksheetImpl : public sheet::Worksheet {
public:
    explicit WorksheetImpl(std::shared_ptr<Book> book) : book_(std::move(book)) {}

    std::shared_ptr<sheet::Range> Cells() override { return std::make_shared<RangeImpl>(book_); }

    std::shared_ptr<sheet::Range> Range(const std::u16string& cell1) override {
        std::uint32_t row;
        std::uint16_t col;
        if (!book_->model) Fail(u"The workbook has been closed.", "Worksheet.Range");
        if (!ParseA1(cell1, row, col))
            Fail(u"Method 'Range' of object '_Worksheet' failed: '" + cell1 + u"' is not a cell address.",
                 "Worksheet.Range");
        return std::make_shared<RangeImpl>(book_, row, col);
    }

private:
    std::shared_ptr<Book> book_;
};

class WorkbookImpl : public sheet::Workbook {
public:
    explicit WorkbookImpl(std::shared_ptr<Book> book) : book_(std::move(book)) {}

    std::shared_ptr<sheet::Worksheet> Worksheets(std::int16_t index) override {
        if (!book_->model) Fail(u"The workbook has been closed.", "Workbook.Worksheets");
        const auto count = static_cast<std::int16_t>(book_->model->WorksheetCount());
        if (index < 1 || index > count)
            throw Failure(kSubscriptOutOfRange, u"Subscript out of range", "Workbook.Worksheets");
        if (index != 1) Fail(u"Only the first worksheet of a workbook can be changed.", "Workbook.Worksheets");
        return std::make_shared<WorksheetImpl>(book_);
    }

private:
    std::shared_ptr<Book> book_;
};

struct AppState {
    EngineOptions options;
    std::vector<std::shared_ptr<Book>> books;
};

// Whether the two name one file, through links or different spellings.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

void RefuseTemplateAsOutput(const std::filesystem::path& output, const std::filesystem::path& templatePath,
                            const char* source) {
    if (SameFile(output, templatePath))
        Fail(u"The filled workbook cannot be written to '" + output.u16string() + u"': that is the template '" +
                 templatePath.u16string() + u"' itself, which is never written. Choose another output file.",
             source);
}

std::vector<std::uint8_t> ReadTemplate(const std::filesystem::path& path, const std::u16string& name) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        Fail(u"'" + name +
                 u"' could not be found. Check the spelling of the file name, and verify that the file "
                 u"location is correct.",
             "Workbooks.Open");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) Fail(u"'" + name + u"' cannot be read: " + text::FromUtf8(ec.message()) + u".", "Workbooks.Open");
    if (size == 0) Fail(u"'" + name + u"' cannot be opened: the file is empty.", "Workbooks.Open");
    if (size > cfb::kMaxFileSize) Fail(u"'" + name + u"' cannot be opened: the file is too large.", "Workbooks.Open");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        Fail(u"'" + name + u"' cannot be read.", "Workbooks.Open");
    return bytes;
}

std::string LowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext;
}

// The extension the filled workbook keeps: the template's format, and for a
// package whether it carries macros (Excel refuses a file whose extension
// and content disagree).
std::string OutputExtension(const std::filesystem::path& templatePath, bool package) {
    if (!package) return ".xls";
    const auto ext = LowerExtension(templatePath);
    return ext == ".xlsm" || ext == ".xltm" ? ".xlsm" : ".xlsx";
}

// An output named for another format than the template's would not open.
void RefuseOtherFormat(const std::filesystem::path& output, const std::filesystem::path& templatePath, bool package) {
    const auto ext = LowerExtension(output);
    if (ext != ".xls" && ext != ".xlsx" && ext != ".xlsm") return; // a name of the user's choosing
    const auto wanted = OutputExtension(templatePath, package);
    if (ext == wanted) return;
    Fail(u"The filled workbook cannot be written to '" + output.u16string() + u"': the template '" +
             templatePath.u16string() + u"' is " +
             (package ? (wanted == ".xlsm" ? u"a macro-enabled .xlsm workbook" : u"an .xlsx workbook")
                      : u"an .xls workbook") +
             u", so the output must end in " + text::FromUtf8(wanted) + u".",
         "Workbooks.Open");
}

class WorkbooksImpl : public sheet::Workbooks {
public:
    explicit WorkbooksImpl(std::shared_ptr<AppState> app) : app_(std::move(app)) {}

    std::shared_ptr<sheet::Workbook> Open(const std::u16string& filename, bool /*readOnly*/) override {
        // The file is only read: ReadOnly or not, nothing is ever written
        // back to it.
        const std::filesystem::path path(filename);
        // Refused before a single cell changes, so no writer runs for a
        // workbook that could not be handed over.
        if (!app_->options.outputPath.empty()) RefuseTemplateAsOutput(app_->options.outputPath, path, "Workbooks.Open");
        const auto bytes = ReadTemplate(path, filename);
        if (!app_->options.outputPath.empty()) RefuseOtherFormat(app_->options.outputPath, path, IsPackage(bytes));
        auto book = std::make_shared<Book>();
        Guard(
            [&] {
                try {
                    book->model = Workbook::Load(bytes);
                } catch (const std::bad_alloc&) {
                    throw Error(ErrorKind::TooLarge, "it needs more memory than is available");
                }
            },
            "Workbooks.Open", u"'" + filename + u"' cannot be opened: ", u".");
        book->path = path;
        app_->books.push_back(book);
        return std::make_shared<WorkbookImpl>(book);
    }

    std::shared_ptr<sheet::Workbook> Item(std::int16_t index) override {
        if (index < 1 || static_cast<std::size_t>(index) > app_->books.size())
            throw Failure(kSubscriptOutOfRange, u"Subscript out of range", "Workbooks.Item");
        return std::make_shared<WorkbookImpl>(app_->books[static_cast<std::size_t>(index - 1)]);
    }

private:
    std::shared_ptr<AppState> app_;
};

// Writes the workbook where the program asked, or to a new file claimed for
// it, whole or not at all.
std::filesystem::path WriteOutput(const AppState& app, const Book& book, std::span<const std::uint8_t> bytes) {
    std::filesystem::path path = app.options.outputPath;
    const bool claimed = path.empty();
    if (claimed) {
        const auto folder = app.options.newFileFolder.empty() ? std::filesystem::path(".") : app.options.newFileFolder;
        Guard(
            [&] {
                path = ClaimFilledName(folder, book.path.stem(),
                                       OutputExtension(book.path, book.model->IsPackageWorkbook()));
            },
            "Application.Visible", u"No new file can be made in '" + folder.u16string() + u"': ", u".");
    } else {
        // Asked again: a link to a template may have been made since Open.
        for (const auto& other : app.books) RefuseTemplateAsOutput(path, other->path, "Application.Visible");
    }
    try {
        WriteFileAtomically(path, bytes);
    } catch (const Error& e) {
        std::error_code ec;
        if (claimed) std::filesystem::remove(path, ec); // the name was taken for this file alone
        Raise(e, "Application.Visible", u"'" + path.u16string() + u"' cannot be written: ", u".");
    }
    return path;
}

class ApplicationImpl : public sheet::Application {
public:
    explicit ApplicationImpl(EngineOptions options) : app_(std::make_shared<AppState>()) {
        app_->options = std::move(options);
    }

    std::shared_ptr<sheet::Workbooks> Workbooks() override { return std::make_shared<WorkbooksImpl>(app_); }

    void SetVisible(bool visible) override {
        if (!visible) return;
        // Handing the workbooks to the user: each is written once as a new
        // file, then passed on to be shown.
        for (auto& book : app_->books) {
            if (!book->model || book->saved) continue;
            std::vector<std::uint8_t> bytes;
            Guard(
                [&] {
                    try {
                        bytes = book->model->Save();
                    } catch (const Error&) {
                        throw;
                    } catch (const std::exception& e) { // out of memory, a size beyond the containers'
                        throw Error(ErrorKind::CannotWrite, e.what());
                    }
                },
                "Application.Visible", u"The workbook cannot be written: ", u".");
            const auto path = WriteOutput(*app_, *book, bytes);
            book->saved = true;
            if (app_->options.onSaved) app_->options.onSaved(path);
        }
    }

    void Quit() override {
        for (auto& book : app_->books) book->model.reset();
        app_->books.clear();
    }

private:
    std::shared_ptr<AppState> app_;
};

} // namespace

std::shared_ptr<sheet::Application> CreateApplication(EngineOptions options) {
    return std::make_shared<ApplicationImpl>(std::move(options));
}

} // namespace vi2zezir::workbook
