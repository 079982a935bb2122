// The portable object services: "Tendrix.Application" is the quote-document
// stand-in named by TENDRIX_DOCUMENT, "EXCEL.APPLICATION" the embedded engine.
// The services are the machine the servers run on: the stand-in, once
// started, runs as long as they do.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "servers/object_services.h"

namespace vi2zezir::posix {

class PortableObjectServices final : public ObjectServices {
public:
    // Run after the engine has written a workbook it hands to the user.
    explicit PortableObjectServices(std::function<void(const std::filesystem::path&)> onSaved = {})
        : onSaved_(std::move(onSaved)) {}

    std::shared_ptr<quote::Application> GetObject(const std::u16string& className) override;
    std::shared_ptr<sheet::Application> CreateObject(const std::u16string& className) override;

private:
    std::function<void(const std::filesystem::path&)> onSaved_;
    std::shared_ptr<quote::Application> tendrix_; // the running stand-in
    std::string tendrixDocument_;                 // the document it serves
};

} // namespace vi2zezir::posix
