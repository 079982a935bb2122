// The engine under the line-item writer's load: for every line of every item
// column Find(placeholder) -> Address -> Range -> Insert(xlDown) -> a Value or
// Formula put, then Replace, then Visible = true (save). Prints the time of a
// whole transfer, the time of merely opening and saving the filled result,
// and the peak memory, for 1,000, 10,000 and 32,767 lines x 20 columns.
// With --xlsx the template is converted to .xlsx by LibreOffice first and
// the transfer reads and writes packages.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert_to_xlsx.h"
#include "servers/value.h"
#include "workbook/engine.h"
#include "workbook/testing/xls_builder.h"

namespace {

using namespace vi2zezir;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kColumns = 20;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

fs::path MakeTemplate(const fs::path& dir) {
    workbook::test::BuilderOptions o;
    auto& cells = o.sheets[0].cells;
    cells.push_back({0, 1, u"&DH_DocNo"});
    cells.push_back({1, 1, u"&DH_CustomerName"});
    for (int c = 0; c < kColumns; ++c)
        cells.push_back({3, static_cast<std::uint16_t>(c + 1), U16("Heading " + std::to_string(c))});
    for (int c = 0; c < kColumns; ++c)
        cells.push_back({4, static_cast<std::uint16_t>(c + 1), U16("&DI_Field" + std::to_string(c) + "x")});
    cells.push_back({6, 20, u"Total"});
    cells.push_back({7, 0, u"&APP_LoggedInUserName"});
    const auto path = dir / "bench-template.xls";
    const auto bytes = workbook::test::BuildXls(o);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void Transfer(const fs::path& templ, const fs::path& out, int lines) {
    workbook::EngineOptions options;
    options.outputPath = out;
    auto app = workbook::CreateApplication(options);
    app->Workbooks()->Open(templ.u16string(), true);
    auto ws = app->Workbooks()->Item(1)->Worksheets(1);
    ws->Cells()->Replace(u"&DH_DocNo", u"Q-10042");
    ws->Cells()->Replace(u"&DH_CustomerName", u"Example Customer Ltd.");
    // Field 1 plays the unit price, field 2 the quantity, field 19 the
    // extended price with its formula, as the item writer does.
    const auto column = [&](const char16_t* p) {
        std::u16string a = ws->Cells()->Find(p)->Address();
        return a.substr(1, a.find(u'$', 1) - 1);
    };
    const std::u16string priceCol = column(u"&DI_Field1x"), qtyCol = column(u"&DI_Field2x");
    for (int c = 0; c < kColumns; ++c) {
        const std::u16string p = U16("&DI_Field" + std::to_string(c) + "x");
        if (!ws->Cells()->Find(p)) continue;
        for (int i = 0; i < lines; ++i) {
            auto cell = ws->Cells()->Find(p);
            std::u16string address = cell->Address();
            std::u16string plain;
            for (char16_t ch : address)
                if (ch != u'$') plain += ch;
            ws->Range(plain)->Insert(sheet::xlShiftDown);
            if (c == 19) {
                const std::u16string row = address.substr(address.rfind(u'$') + 1);
                const std::u16string r = U16(std::to_string(std::stoi(std::string(row.begin(), row.end())) - 1));
                ws->Range(plain)->Cells()->SetFormula(u"=" + priceCol + r + u" * " + qtyCol + r);
            } else if (c == 0 || c > 2) {
                ws->Range(plain)->Cells()->SetValue(
                    Value(U16("Line " + std::to_string(i) + " text " + std::to_string(c))));
            } else {
                ws->Range(plain)->Cells()->SetValue(Value(static_cast<double>(i % 97) + 0.25 * c));
            }
        }
        ws->Cells()->Replace(p, u"");
    }
    ws->Cells()->Replace(u"&APP_LoggedInUserName", u"Pat Example");
    app->SetVisible(true);
}

void OpenAndSave(const fs::path& in, const fs::path& out) {
    workbook::EngineOptions options;
    options.outputPath = out;
    auto app = workbook::CreateApplication(options);
    app->Workbooks()->Open(in.u16string(), true);
    app->Workbooks()->Item(1)->Worksheets(1);
    app->SetVisible(true);
}

// CPU seconds of this process (user + system) and its minor page faults: on
// a machine shared with other work the wall clock alone says little.
struct Cpu {
    double user = 0, system = 0;
    long faults = 0;
};

Cpu CpuNow() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto sec = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return {sec(usage.ru_utime), sec(usage.ru_stime), usage.ru_minflt};
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    // Line counts may be given on the command line (a short run for a
    // profiler); by default the three sizes the target names.
    std::vector<int> sizes;
    bool xlsx = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--xlsx")
            xlsx = true;
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) sizes = {1000, 10000, 32767};
    const fs::path dir = fs::temp_directory_path() / "vz_engine_bench";
    fs::create_directories(dir);
    auto templ = MakeTemplate(dir);
    const std::string ext = xlsx ? ".xlsx" : ".xls";
    if (xlsx) {
        templ = bench::ConvertToXlsx(templ, "lo-engine-bench");
        if (templ.empty()) return 1;
    }
    std::printf("%8s %8s %12s %12s %8s %12s %12s %8s   %s\n", "lines", "columns", "transfer s", "open+save s", "ratio",
                "file KiB", "peak KiB", "peak/file", "cpu user+sys s and page faults: transfer | open+save");
    for (int lines : sizes) {
        const auto filled = dir / ("filled-" + std::to_string(lines) + ext);
        const auto resaved = dir / ("resaved-" + std::to_string(lines) + ext);
        const Cpu c0 = CpuNow();
        const auto t0 = Clock::now();
        Transfer(templ, filled, lines);
        const auto t1 = Clock::now();
        const Cpu c1 = CpuNow();
        OpenAndSave(filled, resaved);
        const auto t2 = Clock::now();
        const Cpu c2 = CpuNow();
        const double fileKiB = static_cast<double>(fs::file_size(filled)) / 1024.0;
        const long peak = PeakKiB();
        std::printf("%8d %8d %12.3f %12.3f %8.2f %12.0f %12ld %8.1f   %.3f+%.3f %ld | %.3f+%.3f %ld\n", lines, kColumns,
                    Seconds(t0, t1), Seconds(t1, t2), Seconds(t0, t1) / Seconds(t1, t2), fileKiB, peak, peak / fileKiB,
                    c1.user - c0.user, c1.system - c0.system, c1.faults - c0.faults, c2.user - c1.user,
                    c2.system - c1.system, c2.faults - c1.faults);
    }
    if (!std::getenv("VZ_BENCH_KEEP")) fs::remove_all(dir);
}
