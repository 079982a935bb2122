// QuoteSource over the quoting application's IDispatch. Every request is one
// late-bound call; DocFunctions and ItemFunctions are asked anew each time,
// as the writers expect, so no object of the server is held longer.
#include "platform/win32/com/automation_clients.h"
#include "platform/win32/com/variant_value.h"

namespace vi2zezir::com {
namespace {

struct QuoteCaches {
    std::shared_ptr<NameCache> application = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> docFunctions = std::make_shared<NameCache>();
    std::shared_ptr<NameCache> itemFunctions = std::make_shared<NameCache>();
};

class DispatchDocFunctions final : public quote::DocFunctions {
public:
    explicit DispatchDocFunctions(Dispatch object) : object_(std::move(object)) {}

    Value GetDocumentHeaderValue(const std::u16string& fieldName) override {
        Args args;
        args.push_back(Variant::Text(fieldName));
        Variant result = object_.Call(u"GetDocumentHeaderValue", std::move(args));
        return FromVariant(*result.Get());
    }

private:
    Dispatch object_;
};

class DispatchItemFunctions final : public quote::ItemFunctions {
public:
    explicit DispatchItemFunctions(Dispatch object) : object_(std::move(object)) {}

    Value LineItemCount() override {
        Variant result = object_.Get(u"LineItemCount");
        return FromVariant(*result.Get());
    }

    Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) override {
        // The server declares the index as a 16-bit integer by reference; it
        // may write it back, so the caller's variable is what travels.
        SHORT index = lineIndex;
        Variant byRef;
        V_VT(byRef.Get()) = VT_BYREF | VT_I2;
        V_I2REF(byRef.Get()) = &index;
        Args args;
        args.push_back(std::move(byRef));
        args.push_back(Variant::Text(fieldName));
        Variant result = object_.Call(u"LineItemGetValue", std::move(args));
        lineIndex = index;
        return FromVariant(*result.Get());
    }

private:
    Dispatch object_;
};

class DispatchQuoteApplication final : public quote::Application {
public:
    explicit DispatchQuoteApplication(ComPtr<IDispatch> application)
        : caches_(std::make_shared<QuoteCaches>()), object_(std::move(application), caches_->application, "Tendrix") {}

    Value VersionMajor() override {
        Variant result = object_.Get(u"VersionMajor");
        return FromVariant(*result.Get());
    }

    std::shared_ptr<quote::DocFunctions> DocFunctions() override {
        Variant result = object_.Get(u"DocFunctions");
        ComPtr<IDispatch> object = ObjectOf(result, "Tendrix.DocFunctions");
        if (!object) ObjectRequired("Tendrix.DocFunctions");
        return std::make_shared<DispatchDocFunctions>(Dispatch(object, caches_->docFunctions, "DocFunctions"));
    }

    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override {
        Variant result = object_.Get(u"ItemFunctions");
        ComPtr<IDispatch> object = ObjectOf(result, "Tendrix.ItemFunctions");
        if (!object) ObjectRequired("Tendrix.ItemFunctions");
        return std::make_shared<DispatchItemFunctions>(Dispatch(object, caches_->itemFunctions, "ItemFunctions"));
    }

    Value GetMacro(std::u16string& placeholder) override {
        // By reference: the server sees the caller's text and may replace it.
        Bstr text(placeholder);
        Variant byRef;
        V_VT(byRef.Get()) = VT_BYREF | VT_BSTR;
        V_BSTRREF(byRef.Get()) = text.Slot();
        Args args;
        args.push_back(std::move(byRef));
        Variant result = object_.Call(u"GetMacro", std::move(args));
        placeholder = text.Text();
        return FromVariant(*result.Get());
    }

private:
    std::shared_ptr<QuoteCaches> caches_;
    Dispatch object_;
};

} // namespace

std::shared_ptr<quote::Application> WrapQuoteApplication(ComPtr<IDispatch> application) {
    return std::make_shared<DispatchQuoteApplication>(std::move(application));
}

} // namespace vi2zezir::com
