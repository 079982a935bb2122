// The two automation servers behind the core's interfaces, over late-bound
// IDispatch: the quoting application (QuoteSource) and the spreadsheet
// application (SheetHost), and the object services that find them.
#pragma once

#include <memory>

#include "platform/win32/com/dispatch.h"
#include "servers/object_services.h"

namespace vi2zezir::com {

std::shared_ptr<quote::Application> WrapQuoteApplication(ComPtr<IDispatch> application);
std::shared_ptr<sheet::Application> WrapSheetApplication(ComPtr<IDispatch> application);

// GetObject: the running instance from the running object table, never a new
// one. CreateObject: a new instance as a local server. Both fail with 429.
class ComObjectServices final : public ObjectServices {
public:
    std::shared_ptr<quote::Application> GetObject(const std::u16string& className) override;
    std::shared_ptr<sheet::Application> CreateObject(const std::u16string& className) override;
};

} // namespace vi2zezir::com
