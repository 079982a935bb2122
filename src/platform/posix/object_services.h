// The portable object services: "Tendrix.Application" is the quote-document
// stand-in named by TENDRIX_DOCUMENT, "EXCEL.APPLICATION" the embedded engine.
#pragma once

#include <filesystem>
#include <functional>

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
};

} // namespace vi2zezir::posix
