// SheetHost over the spreadsheet application's IDispatch, making exactly the
// late-bound calls the transfer is written against: Workbooks.Open with
// ReadOnly named and locale 1033, Workbooks(1)/Worksheets(1) through the
// default member with a 16-bit 1, Insert with the one named argument Shift.
#include "platform/win32/com/automation_clients.h"
#include "platform/win32/com/variant_value.h"

namespace vi2zezir::com {
namespace {

// One cache per kind of object; a transfer asks thousands of Range objects
// the same few names.
struct SheetCaches {
    std::shared_ptr<NameCache> application = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> workbooks = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> workbook = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> worksheets = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> worksheet = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> range = std::make_shared<NameCache>();
};

ComPtr<IDispatch> RequiredObject(Variant& result, const char* source) {
    ComPtr<IDispatch> object = ObjectOf(result, source);
    if (!object) ObjectRequired(source);
    return object;
}

class DispatchRange final : public sheet::Range {
public:
    DispatchRange(ComPtr<IDispatch> object, std::shared_ptr<SheetCaches> caches)
        : caches_(std::move(caches)), object_(std::move(object), caches_->range, "Range") {}

    std::shared_ptr<sheet::Range> Find(const std::u16string& what) override {
        Args args;
        args.push_back(Variant::Text(what));
        Variant result = object_.Call(u"Find", std::move(args));
        ComPtr<IDispatch> found = ObjectOf(result, "Range.Find");
        if (!found) return nullptr;
        return std::make_shared<DispatchRange>(found, caches_);
    }

    void Replace(const std::u16string& what, const std::u16string& replacement) override {
        Args args;
        args.push_back(Variant::Text(what));
        args.push_back(Variant::Text(replacement));
        object_.Call(u"Replace", std::move(args));
    }

    std::u16string Address() override {
        Variant result = object_.Get(u"Address");
        return ToText(FromVariant(*result.Get()));
    }

    void Insert(std::int32_t shift) override {
        std::vector<NamedArg> named;
        named.push_back(NamedArg{u"Shift", Variant::Int32(shift)});
        object_.Call(u"Insert", {}, std::move(named));
    }

    std::shared_ptr<sheet::Range> Cells() override {
        Variant result = object_.Get(u"Cells");
        return std::make_shared<DispatchRange>(RequiredObject(result, "Range.Cells"), caches_);
    }

    void SetValue(const Value& value) override { object_.Put(u"Value", ToVariant(value)); }

    void SetFormula(const std::u16string& formula) override { object_.Put(u"Formula", Variant::Text(formula)); }

private:
    std::shared_ptr<SheetCaches> caches_;
    Dispatch object_;
};

class DispatchWorksheet final : public sheet::Worksheet {
public:
    DispatchWorksheet(ComPtr<IDispatch> object, std::shared_ptr<SheetCaches> caches)
        : caches_(std::move(caches)), object_(std::move(object), caches_->worksheet, "Worksheet") {}

    std::shared_ptr<sheet::Range> Cells() override {
        Variant result = object_.Get(u"Cells");
        return std::make_shared<DispatchRange>(RequiredObject(result, "Worksheet.Cells"), caches_);
    }

    std::shared_ptr<sheet::Range> Range(const std::u16string& cell1) override {
        Args args;
        args.push_back(Variant::Text(cell1));
        Variant result = object_.Get(u"Range", std::move(args));
        return std::make_shared<DispatchRange>(RequiredObject(result, "Worksheet.Range"), caches_);
    }

private:
    std::shared_ptr<SheetCaches> caches_;
    Dispatch object_;
};

class DispatchWorkbook final : public sheet::Workbook {
public:
    DispatchWorkbook(ComPtr<IDispatch> object, std::shared_ptr<SheetCaches> caches)
        : caches_(std::move(caches)), object_(std::move(object), caches_->workbook, "Workbook") {}

    std::shared_ptr<sheet::Worksheet> Worksheets(std::int16_t index) override {
        Variant collection = object_.Get(u"Worksheets");
        Dispatch worksheets(RequiredObject(collection, "Workbook.Worksheets"), caches_->worksheets, "Worksheets");
        Args args;
        args.push_back(Variant::Int16(index));
        Variant result = worksheets.Default(std::move(args));
        return std::make_shared<DispatchWorksheet>(RequiredObject(result, "Worksheets.Item"), caches_);
    }

private:
    std::shared_ptr<SheetCaches> caches_;
    Dispatch object_;
};

class DispatchWorkbooks final : public sheet::Workbooks {
public:
    DispatchWorkbooks(ComPtr<IDispatch> object, std::shared_ptr<SheetCaches> caches)
        : caches_(std::move(caches)), object_(std::move(object), caches_->workbooks, "Workbooks") {}

    std::shared_ptr<sheet::Workbook> Open(const std::u16string& filename, bool readOnly) override {
        Args args;
        args.push_back(Variant::Text(filename));
        std::vector<NamedArg> named;
        named.push_back(NamedArg{u"ReadOnly", Variant::Boolean(readOnly)});
        Variant result = object_.Call(u"Open", std::move(args), std::move(named), kUsEnglish);
        ComPtr<IDispatch> workbook = ObjectOf(result, "Workbooks.Open");
        if (!workbook) return nullptr;
        return std::make_shared<DispatchWorkbook>(workbook, caches_);
    }

    std::shared_ptr<sheet::Workbook> Item(std::int16_t index) override {
        Args args;
        args.push_back(Variant::Int16(index));
        Variant result = object_.Default(std::move(args));
        return std::make_shared<DispatchWorkbook>(RequiredObject(result, "Workbooks.Item"), caches_);
    }

private:
    std::shared_ptr<SheetCaches> caches_;
    Dispatch object_;
};

class DispatchSheetApplication final : public sheet::Application {
public:
    explicit DispatchSheetApplication(ComPtr<IDispatch> object)
        : caches_(std::make_shared<SheetCaches>()), object_(std::move(object), caches_->application, "Application") {}

    std::shared_ptr<sheet::Workbooks> Workbooks() override {
        Variant result = object_.Get(u"Workbooks");
        return std::make_shared<DispatchWorkbooks>(RequiredObject(result, "Application.Workbooks"), caches_);
    }

    void SetVisible(bool visible) override { object_.Put(u"Visible", Variant::Boolean(visible), kUsEnglish); }

    void Quit() override { object_.Call(u"Quit"); }

private:
    std::shared_ptr<SheetCaches> caches_;
    Dispatch object_;
};

} // namespace

std::shared_ptr<sheet::Application> WrapSheetApplication(ComPtr<IDispatch> application) {
    return std::make_shared<DispatchSheetApplication>(std::move(application));
}

} // namespace vi2zezir::com
