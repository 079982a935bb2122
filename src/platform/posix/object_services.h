// The portable object services: "Tendrix.Application" is the quote-document
// stand-in named by TENDRIX_DOCUMENT, "EXCEL.APPLICATION" the embedded engine.
#pragma once

#include "servers/object_services.h"
#include "workbook/engine.h"

namespace vi2zezir::posix {

class PortableObjectServices final : public ObjectServices {
public:
    // Every engine made gets these options: where it writes the workbook it
    // hands to the user, and what runs after.
    explicit PortableObjectServices(workbook::EngineOptions engineOptions = {})
        : engineOptions_(std::move(engineOptions)) {}

    std::shared_ptr<quote::Application> GetObject(const std::u16string& className) override;
    std::shared_ptr<sheet::Application> CreateObject(const std::u16string& className) override;

private:
    workbook::EngineOptions engineOptions_;
};

} // namespace vi2zezir::posix
