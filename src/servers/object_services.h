// The automation object services: attach to a running server by class name,
// or create a new instance by class name. Each executable chooses the
// implementation (COM on Windows, the stand-ins and the engine elsewhere).
#pragma once

#include <memory>
#include <string>

#include "servers/quote_source.h"
#include "servers/sheet_host.h"

namespace vi2zezir {

class ObjectServices {
public:
    virtual ~ObjectServices() = default;
    // GetObject(, className): the running instance, never a new one. Throws
    // Failure (429 "ActiveX component can't create object") when none runs.
    virtual std::shared_ptr<quote::Application> GetObject(const std::u16string& className) = 0;
    // CreateObject(className): a new, hidden instance on this machine.
    virtual std::shared_ptr<sheet::Application> CreateObject(const std::u16string& className) = 0;
};

inline constexpr char16_t kQuotingAppClass[] = u"Tendrix.Application";
inline constexpr char16_t kSpreadsheetAppClass[] = u"EXCEL.APPLICATION";

} // namespace vi2zezir
