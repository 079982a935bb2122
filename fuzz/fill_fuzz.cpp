// libFuzzer target for a whole transfer into a hostile template: the input is
// the template file. The engine opens it, the three writers fill it from a
// small in-memory quote, Visible writes the result, Quit ends the
// application. Every step may refuse with Failure; none may crash, leak or
// hang, and a refused template leaves no output file behind.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/failure.h"
#include "transfer/writers.h"
#include "workbook/engine.h"

namespace {

using namespace vi2zezir;

// Three lines, the middle ones of types 2 and 4, with numbers where the
// extended-price formula reads them; every other field answers with a text
// that names it.
class Doc final : public quote::DocFunctions {
public:
    Value GetDocumentHeaderValue(const std::u16string& fieldName) override { return Value(u"h " + fieldName); }
};

class Items final : public quote::ItemFunctions {
public:
    Value LineItemCount() override { return Value(std::int32_t{4}); }
    Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) override {
        if (lineIndex < 0 || lineIndex > 3) throw Failure(kSubscriptOutOfRange);
        if (fieldName == u"LineType") return Value(std::int32_t{lineIndex == 1 ? 2 : lineIndex == 2 ? 4 : 1});
        if (fieldName == u"QtyTotal") return Value(std::int32_t{lineIndex + 1});
        if (fieldName == u"UnitPrice") return Value(Currency{125000});
        if (fieldName == u"Description") return Value(u"=1+1"); // typed input that looks like a formula
        return Value(u"i " + fieldName);
    }
};

class Quote final : public quote::Application {
public:
    Value VersionMajor() override { return Value(u"4"); }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override { return std::make_shared<Doc>(); }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override { return std::make_shared<Items>(); }
    Value GetMacro(std::u16string& placeholder) override { return Value(u"m " + placeholder); }
};

// A directory of this process's own, removed when it ends.
struct Scratch {
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vz-fill-fuzz-" + std::to_string(::getpid()));
    Scratch() { std::filesystem::create_directories(dir); }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

const std::filesystem::path& ScratchDir() {
    static const Scratch scratch;
    return scratch.dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto templatePath = ScratchDir() / "template.xls";
    const auto outputPath = ScratchDir() / "filled.xls";
    {
        std::ofstream out(templatePath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::filesystem::remove(outputPath);

    workbook::EngineOptions options;
    options.outputPath = outputPath;
    auto app = workbook::CreateApplication(options);
    bool opened = false;
    try {
        auto sheet = app->Workbooks()->Open(templatePath.u16string(), true)->Worksheets(1);
        opened = true;
        Quote quote;
        transfer::WriteHeaderFields(quote, *sheet);
        transfer::WriteItemFields(quote, *sheet);
        transfer::WriteMacroFields(quote, *sheet);
        app->SetVisible(true);
    } catch (const Failure&) {}
    app->Quit();
    if (!opened && std::filesystem::exists(outputPath)) {
        std::fprintf(stderr, "fill fuzz: a template that did not open left an output file\n");
        std::abort();
    }
    std::filesystem::remove(outputPath);
    return 0;
}
