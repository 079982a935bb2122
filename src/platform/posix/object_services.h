// The portable object services: "Tendrix.Application" is the quote-document
// stand-in named by TENDRIX_DOCUMENT, "EXCEL.APPLICATION" the embedded engine.
// The services are the machine the servers run on: the stand-in, once
// started, runs as long as they do.
#pragma once

#include <memory>
#include <string>

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
    std::shared_ptr<quote::Application> tendrix_; // the running stand-in
    std::string tendrixDocument_;                 // the document it serves
};

} // namespace vi2zezir::posix
