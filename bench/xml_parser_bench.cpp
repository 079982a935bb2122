// The measurement behind the choice of XML parser for .xlsx parts: the sheet
// of a 32,767-line quote parsed by expat (as a stream), libxml2 (a SAX2
// stream, and from one buffer) and pugixml (a tree), and by the package
// layer's own reader over expat; each visits every cell's attributes and
// value. Each parser runs in a child process of its own; printed are the CPU
// time of its first parse (cold heap) and its best of five, and the peak
// memory it added (VmHWM over VmRSS before the parse).
//
//   xml_parser_bench                 a generated sheet: 32,767 lines x 5 columns
//   xml_parser_bench filled.xlsx     the first worksheet of a real workbook
//
// libxml2 and pugixml are measured when they were found at build time
// (libxml2-dev, libpugixml-dev); the project itself links neither.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <expat.h>
#ifdef VZ_BENCH_LIBXML2
#include <libxml/parser.h>
#endif
#ifdef VZ_BENCH_PUGIXML
#include <pugixml.hpp>
#endif

#include "workbook/xlsx/package.h"

namespace {

using namespace vi2zezir::workbook;

struct Tally {
    long cells = 0;
    long attributeBytes = 0;
    long valueBytes = 0;
};

// A filled quote's sheet as LibreOffice writes it: header rows, then one row
// per line with a text, two numbers, a formula and its result.
std::string GenerateSheet(int lines) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheetData>";
    for (int i = 0; i < lines; ++i) {
        const std::string r = std::to_string(i + 22);
        xml += "<row r=\"" + r +
               "\" customFormat=\"false\" ht=\"12.75\" hidden=\"false\" customHeight=\"false\" outlineLevel=\"0\" "
               "collapsed=\"false\">";
        xml += "<c r=\"B" + r + "\" s=\"12\" t=\"s\"><v>" + std::to_string(40 + i) + "</v></c>";
        xml += "<c r=\"C" + r + "\" s=\"13\" t=\"s\"><v>" + std::to_string(7 + i % 11) + "</v></c>";
        xml += "<c r=\"D" + r + "\" s=\"14\" t=\"n\"><v>" + std::to_string(1 + i % 9) + "</v></c>";
        xml += "<c r=\"E" + r + "\" s=\"15\" t=\"n\"><v>1899.5</v></c>";
        xml += "<c r=\"F" + r + "\" s=\"16\" t=\"n\"><f aca=\"false\">E" + r + "*D" + r + "</f><v>" +
               std::to_string((1 + i % 9) * 1899.5) + "</v></c></row>";
    }
    return xml + "</sheetData></worksheet>";
}

std::string FirstWorksheet(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const auto package = xlsx::Package::Open({std::istreambuf_iterator<char>(in), {}});
    for (const auto& sheet : xlsx::FindWorkbookParts(package).sheets)
        if (sheet.kind == xlsx::SheetKind::Worksheet) return package.Read(sheet.part);
    throw std::runtime_error("no worksheet");
}

// ---- expat, fed in 64 KiB pieces
struct ExpatState {
    Tally tally;
    bool inValue = false;
};

Tally ParseExpat(const std::string& doc) {
    ExpatState state;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(
        parser,
        [](void* user, const XML_Char* name, const XML_Char** atts) {
            auto& s = *static_cast<ExpatState*>(user);
            if (!std::strcmp(name, "c")) {
                ++s.tally.cells;
                for (auto a = atts; *a; a += 2) s.tally.attributeBytes += static_cast<long>(std::strlen(a[1]));
            } else if (!std::strcmp(name, "v")) {
                s.inValue = true;
            }
        },
        [](void* user, const XML_Char* name) {
            if (!std::strcmp(name, "v")) static_cast<ExpatState*>(user)->inValue = false;
        });
    XML_SetCharacterDataHandler(parser, [](void* user, const XML_Char*, int length) {
        auto& s = *static_cast<ExpatState*>(user);
        if (s.inValue) s.tally.valueBytes += length;
    });
    for (std::size_t at = 0; at < doc.size();) {
        const std::size_t piece = std::min<std::size_t>(64 * 1024, doc.size() - at);
        at += piece;
        XML_Parse(parser, doc.data() + at - piece, static_cast<int>(piece), at == doc.size());
    }
    XML_ParserFree(parser);
    return state.tally;
}

// ---- the package layer's reader
Tally ParseLayer(const std::string& doc) {
    struct Cells : xlsx::xml::Handler {
        Tally tally;
        bool inValue = false;
        void StartElement(std::string_view name, xlsx::xml::Attributes attributes) override {
            if (name == "c") {
                ++tally.cells;
                for (const auto& a : attributes) tally.attributeBytes += static_cast<long>(a.value.size());
            }
            inValue = name == "v";
        }
        void EndElement(std::string_view) override { inValue = false; }
        void Text(std::string_view text) override {
            if (inValue) tally.valueBytes += static_cast<long>(text.size());
        }
    } cells;
    xlsx::xml::Parse(doc, cells);
    return cells.tally;
}

#ifdef VZ_BENCH_LIBXML2
struct LibxmlState {
    Tally tally;
    bool inValue = false;
};

xmlSAXHandler LibxmlHandler() {
    xmlSAXHandler h{};
    h.initialized = XML_SAX2_MAGIC;
    h.startElementNs = [](void* user, const xmlChar* local, const xmlChar*, const xmlChar*, int, const xmlChar**,
                          int count, int, const xmlChar** atts) {
        auto& s = *static_cast<LibxmlState*>(user);
        if (!std::strcmp(reinterpret_cast<const char*>(local), "c")) {
            ++s.tally.cells;
            for (int i = 0; i < count; ++i) s.tally.attributeBytes += atts[i * 5 + 4] - atts[i * 5 + 3];
        } else if (!std::strcmp(reinterpret_cast<const char*>(local), "v")) {
            s.inValue = true;
        }
    };
    h.endElementNs = [](void* user, const xmlChar* local, const xmlChar*, const xmlChar*) {
        if (!std::strcmp(reinterpret_cast<const char*>(local), "v")) static_cast<LibxmlState*>(user)->inValue = false;
    };
    h.characters = [](void* user, const xmlChar*, int length) {
        auto& s = *static_cast<LibxmlState*>(user);
        if (s.inValue) s.tally.valueBytes += length;
    };
    return h;
}

Tally ParseLibxmlPush(const std::string& doc) {
    LibxmlState state;
    xmlSAXHandler h = LibxmlHandler();
    xmlParserCtxtPtr context = xmlCreatePushParserCtxt(&h, &state, nullptr, 0, nullptr);
    for (std::size_t at = 0; at < doc.size();) {
        const std::size_t piece = std::min<std::size_t>(64 * 1024, doc.size() - at);
        at += piece;
        xmlParseChunk(context, doc.data() + at - piece, static_cast<int>(piece), at == doc.size());
    }
    xmlFreeParserCtxt(context);
    return state.tally;
}

Tally ParseLibxmlMemory(const std::string& doc) {
    LibxmlState state;
    xmlSAXHandler h = LibxmlHandler();
    xmlSAXUserParseMemory(&h, &state, doc.data(), static_cast<int>(doc.size()));
    return state.tally;
}
#endif

#ifdef VZ_BENCH_PUGIXML
// In place: the buffer is the caller's copy, as a reader would own the
// inflated part.
Tally ParsePugixml(std::string& doc) {
    Tally tally;
    pugi::xml_document tree;
    tree.load_buffer_inplace(doc.data(), doc.size());
    for (const auto row : tree.document_element().child("sheetData").children("row"))
        for (const auto c : row.children("c")) {
            ++tally.cells;
            for (const auto a : c.attributes()) tally.attributeBytes += static_cast<long>(std::strlen(a.value()));
            if (const auto v = c.child("v")) tally.valueBytes += static_cast<long>(std::strlen(v.child_value()));
        }
    return tally;
}
#endif

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field)) return std::stol(line.substr(std::strlen(field)));
    return 0;
}

// In a child process: peak memory is the child's own.
void Measure(const char* name, const std::string& original, const std::function<Tally(std::string&)>& parse) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid != 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        return;
    }
    double first = 0, best = 1e9;
    long peakKb = 0;
    Tally tally;
    for (int run = 0; run < 5; ++run) {
        std::string doc = original; // pugixml parses in place
        long before = 0;
        if (run == 0) {
            std::ofstream("/proc/self/clear_refs") << "5"; // restart VmHWM from VmRSS
            before = StatusKb("VmRSS:");
        }
        const double start = CpuSeconds();
        tally = parse(doc);
        const double seconds = CpuSeconds() - start;
        if (run == 0) first = seconds, peakKb = StatusKb("VmHWM:") - before;
        best = std::min(best, seconds);
    }
    std::printf("%-26s %9.1f %9.1f %10.1f %10.1f   %ld cells\n", name, first * 1e3, best * 1e3,
                static_cast<double>(original.size()) / best / 1e6, static_cast<double>(peakKb) / 1024, tally.cells);
    std::fflush(stdout);
    _exit(0);
}

} // namespace

int main(int argc, char** argv) {
    const std::string sheet = argc > 1 ? FirstWorksheet(argv[1]) : GenerateSheet(32767);
    std::printf("sheet XML: %.1f MB%s\n\n", static_cast<double>(sheet.size()) / 1e6,
                argc > 1 ? "" : " (generated, 32,767 lines)");
    std::printf("%-26s %9s %9s %10s %10s\n", "parser", "first ms", "best ms", "MB/s", "peak +MB");
    Measure("expat, SAX in 64 KiB", sheet, [](std::string& d) { return ParseExpat(d); });
    Measure("package layer (expat)", sheet, [](std::string& d) { return ParseLayer(d); });
#ifdef VZ_BENCH_LIBXML2
    Measure("libxml2, SAX2 push 64 KiB", sheet, [](std::string& d) { return ParseLibxmlPush(d); });
    Measure("libxml2, SAX2 from memory", sheet, [](std::string& d) { return ParseLibxmlMemory(d); });
#endif
#ifdef VZ_BENCH_PUGIXML
    Measure("pugixml, DOM in place", sheet, [](std::string& d) { return ParsePugixml(d); });
#endif
    return 0;
}
