// Writes the default quote template: make_quote_template <output.xls>
#include "quote_template.h"

#include <exception>
#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_quote_template <output.xls>\n";
        return 2;
    }
    try {
        const auto bytes = vi2zezir::tools::quote_template::WriteQuoteTemplateFile();
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::cerr << "make_quote_template: cannot write '" << argv[1] << "'\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "make_quote_template: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
