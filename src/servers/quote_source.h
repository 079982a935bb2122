// QuoteSource: the running quoting application as the transfer sees it. One
// virtual per automation operation, named as the server names it; every call
// is a synchronous request that may throw Failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "servers/value.h"

namespace vi2zezir::quote {

class DocFunctions {
public:
    virtual ~DocFunctions() = default;
    // fieldName is a header placeholder less "&DH_" ("DocNo").
    virtual Value GetDocumentHeaderValue(const std::u16string& fieldName) = 0;
};

class ItemFunctions {
public:
    virtual ~ItemFunctions() = default;
    virtual Value LineItemCount() = 0;
    // The line index travels by reference, as the server declares it.
    virtual Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual Value VersionMajor() = 0;
    // Qualified return types: the members share their types' names.
    virtual std::shared_ptr<quote::DocFunctions> DocFunctions() = 0;
    virtual std::shared_ptr<quote::ItemFunctions> ItemFunctions() = 0;
    // The whole macro placeholder ("&APP_LoggedInUserName"), by reference.
    virtual Value GetMacro(std::u16string& placeholder) = 0;
};

} // namespace vi2zezir::quote
