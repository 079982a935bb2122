// The program as a user runs it: a quote document and a template with 20
// item columns go in, the filled workbook comes out. For 1,000, 10,000 and
// 32,767 lines it prints
//   - the whole process (vi2zezir headless with "/f:", best of three runs)
//     beside the floor: the same program re-opening the filled workbook and
//     saving it again, given a quote that fills nothing (and, for reference,
//     the engine doing that inside this process);
//   - the process's peak memory beside the size of the workbook it wrote;
//   - the template check (vi2zezir-check) on the filled workbook;
//   - where the time of one transfer goes: the real export run in this
//     process, timed at its status texts (attach and load the document, open
//     the template, each writer, save) and at the release of what it held;
//   - the automation calls the writers make per line, counted by the
//     recording fakes: the Windows program pays a round trip to another
//     process for each one.
// With --libreoffice, the same work for 1,000 lines x 8 columns is also
// done by LibreOffice Calc over UNO (bench/uno_fill.py), which takes minutes.
// With --xlsx the template is converted to .xlsx by LibreOffice first, and
// every workbook read and written is a package.
//
//   program_bench [--baseline BUILD_DIR] [--runs N] [--libreoffice] [--xlsx] [LINES ...]
//
// --baseline measures another build's vi2zezir and vi2zezir-check the same
// way, taking turns with this one's, and tells whether their workbooks are
// byte for byte the same.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "convert_to_xlsx.h"
#include "fakes/recording_servers.h"
#include "platform/posix/object_services.h"
#include "servers/value.h"
#include "standin/quote_document.h"
#include "transfer/export_run.h"
#include "workbook/engine.h"
#include "workbook/testing/xls_builder.h"

extern char** environ;

namespace {

using namespace vi2zezir;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// This process's CPU seconds so far: on a machine shared with other work
// they say more about a stage than the wall clock.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// ---------------------------------------------------------------- the quote

// The item columns of the template, in the order they stand. The first
// eight are the comparison with LibreOffice; the extended price among them
// gets its formula.
constexpr const char* kItemFields[] = {
    "Description",   "QtyTotal",     "UnitPrice",    "ExtendedPrice",    "Manufacturer", "ManufacturerPartNumber",
    "UnitofMeasure", "OrderDate",    "Vendor",       "VendorPartNumber", "UnitCost",     "UnitList",
    "ExtendedCost",  "ExtendedList", "CustomText01", "CustomText02",     "CustomText03", "CustomText04",
    "CustomText05",  "Notes",
};
constexpr int kColumns = 20;
constexpr int kLibreOfficeLines = 1000, kLibreOfficeColumns = 8;

// A subtotal (type 4) every 50th line, a comment line (type 2) halfway
// between two subtotals; the rest are ordinary lines with every field a real quote has,
// those the template does not show included.
std::string QuoteDocument(int lines) {
    std::string json = R"({"VersionMajor": "4",
 "Header": {"DocNo": 10442, "DocDate": {"date": "2026-12-06"}, "SoldToCompany": "Northwind Traders",
            "GrandTotal": {"currency": "1234567.8900"}},
 "Macros": {"&APP_LoggedInUserFullName": "Andrew Fuller", "&DH_&SalesRepFullName": "Nancy Davolio"},
 "Items": [
)";
    char line[1024];
    for (int i = 0; i < lines; ++i) {
        if (i % 50 == 49) {
            std::snprintf(line, sizeof line, R"(  {"LineType": 4, "Description": "Subtotal", "ExtendedPrice": %d.5})",
                          i * 7);
        } else if (i % 25 == 24) {
            std::snprintf(line, sizeof line, R"(  {"LineType": 2, "Description": "Installation notes for section %d"})",
                          i / 25);
        } else {
            const int qty = 1 + i % 12;
            std::snprintf(
                line, sizeof line,
                R"(  {"LineType": 1, "Description": "Managed switch, 24 ports, model %d", "QtyTotal": %d,)"
                R"( "UnitPrice": {"currency": "%d.5000"}, "ExtendedPrice": {"currency": "%d.0000"},)"
                R"( "Manufacturer": "Contoso", "ManufacturerPartNumber": "CT-%06d", "UnitofMeasure": "Each",)"
                R"( "OrderDate": {"date": "2026-11-%02d"}, "Vendor": "Fabrikam Supply", "VendorPartNumber": "FS%07d",)"
                R"( "UnitCost": %d.25, "UnitList": %d.99, "ExtendedCost": %d.5, "ExtendedList": %d.88,)"
                R"( "CustomText01": "Rack %d", "CustomText02": "Bay %d", "CustomText03": "", "CustomText04": "Y",)"
                R"( "CustomText05": "Project Alpha", "Notes": "Ships in %d days", "ItemType": 1, "QtyBase": %d})",
                i, qty, 800 + i % 200, (800 + i % 200) * qty, i, 1 + i % 28, i * 3, 600 + i % 150, 999 + i % 100,
                (600 + i % 150) * qty, (999 + i % 100) * qty, i % 40, i % 8, 2 + i % 5, qty);
        }
        json += line;
        json += i + 1 < lines ? ",\n" : "\n";
    }
    json += "]}\n";
    return json;
}

fs::path WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Header fields above the item table, the item placeholders in one row, a
// totals row below it and two macros at the foot.
fs::path MakeTemplate(const fs::path& path, int columns) {
    workbook::test::BuilderOptions o;
    o.sheets[0].name = u"Quote";
    auto& cells = o.sheets[0].cells;
    cells.push_back({0, 1, u"Quote &DH_DocNo"});
    cells.push_back({1, 1, u"&DH_SoldToCompany"});
    cells.push_back({2, 1, u"&DH_DocDate"});
    for (int c = 0; c < columns; ++c) {
        const auto col = static_cast<std::uint16_t>(c + 1);
        cells.push_back({4, col, U16(kItemFields[c])});
        cells.push_back({5, col, U16(std::string("&DI_") + kItemFields[c])});
    }
    cells.push_back({7, 1, u"Total"});
    cells.push_back({7, 4, u"&DH_GrandTotal"});
    cells.push_back({9, 1, u"Prepared by &APP_LoggedInUserFullName"});
    cells.push_back({10, 1, u"&DH_&SalesRepFullName"});
    const auto bytes = workbook::test::BuildXls(o);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// ---------------------------------------------------------------- processes

struct ProcessRun {
    double seconds = 0;
    double cpu = 0;   // user + system
    long peakKiB = 0; // the child's peak resident memory
    int status = -1;  // its exit status
};

// Runs `argv` with `env` added to this process's environment, output
// discarded, and measures it as the shell's `time` would.
ProcessRun RunProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (!env.contains(entry.substr(0, entry.find('=')))) environment.push_back(entry);
    }
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ProcessRun run;
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = Seconds(t0, Clock::now());
    posix_spawn_file_actions_destroy(&actions);
    const auto sec = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    run.cpu = sec(usage.ru_utime) + sec(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// ---------------------------------------------------------------- in process

struct Timing {
    double seconds = 0, cpu = 0;
};

// The engine alone opening the filled workbook and saving it again, in this
// process: a reference beside the floor, which is a whole process.
Timing OpenAndSave(const fs::path& in, const fs::path& out) {
    const auto t0 = Clock::now();
    const double cpu0 = CpuSeconds();
    workbook::EngineOptions options;
    options.outputPath = out;
    auto app = workbook::CreateApplication(options);
    app->Workbooks()->Open(in.u16string(), true);
    app->Workbooks()->Item(1)->Worksheets(1);
    app->SetVisible(true);
    app.reset();
    return {Seconds(t0, Clock::now()), CpuSeconds() - cpu0};
}

// The window of the export run, noting the moment of every status text.
class TimingWindow final : public transfer::RunWindow {
public:
    explicit TimingWindow(std::u16string path) : path_(std::move(path)) {}
    std::u16string PathText() const override { return path_; }
    void SetStatusText(const std::u16string& text) override { marks.emplace_back(text, CpuSeconds()); }
    void Unload() override { marks.emplace_back(u"unloaded", CpuSeconds()); }

    std::vector<std::pair<std::u16string, double>> marks;

private:
    std::u16string path_;
};

struct Stage {
    const char* name;
    const char16_t* from; // the status text that starts it
};

// Each stage runs from its status text to the next one.
constexpr Stage kStages[] = {
    {"attach+load", transfer::kStatusCreatingTendrix},
    {"create", transfer::kStatusCreatingExcel},
    {"open", transfer::kStatusOpening},
    {"header", transfer::kStatusHeader},
    {"items", transfer::kStatusItems},
    {"macros", transfer::kStatusMacros},
    {"save", u""},
};

// The real export run in this process; the CPU seconds of every stage, then
// of the release of the references and of the running stand-in.
std::vector<double> TimeStages(const fs::path& templ, const fs::path& out) {
    TimingWindow window(templ.u16string());
    std::vector<double> seconds;
    {
        workbook::EngineOptions options;
        options.outputPath = out;
        posix::PortableObjectServices services(options);
        transfer::References refs;
        transfer::CmdExport2Excel_Click(window, services, refs);
        window.marks.emplace_back(u"released", CpuSeconds());
        refs.Release();
    }
    window.marks.emplace_back(u"end", CpuSeconds());
    for (const Stage& stage : kStages) {
        auto it = std::find_if(window.marks.begin(), window.marks.end(),
                               [&](const auto& mark) { return mark.first == stage.from; });
        seconds.push_back(it == window.marks.end() || it + 1 == window.marks.end() ? 0 : (it + 1)->second - it->second);
    }
    seconds.push_back(window.marks.back().second - window.marks[window.marks.size() - 2].second);
    return seconds;
}

// ---------------------------------------------------------------- calls per line

// The export run over the recording fakes with the template's cells and the
// document's lines; the log entries by member ("Find(x)" counts as "Find").
std::map<std::string, double> CountCalls(const fs::path& templ, int lines, int columns) {
    auto log = std::make_shared<fakes::CallLog>();
    fakes::QuoteData data;
    const auto document = standin::ParseQuoteDocument(QuoteDocument(lines), "bench.json");
    data.header.insert(document.header.begin(), document.header.end());
    data.macros.insert(document.macros.begin(), document.macros.end());
    const auto items =
        standin::MakeQuoteApplication(std::make_shared<const standin::QuoteDocument>(document))->ItemFunctions();
    for (std::int16_t i = 0; i < lines; ++i) {
        std::map<std::u16string, Value> line{{u"LineType", items->LineItemGetValue(i, u"LineType")}};
        for (int c = 0; c < columns; ++c) line[U16(kItemFields[c])] = items->LineItemGetValue(i, U16(kItemFields[c]));
        data.items.push_back(std::move(line));
    }
    fakes::RecordingServices services(log);
    services.quoteApp = std::make_shared<fakes::RecordingQuoteApp>(std::move(data), log);
    services.sheet = std::make_shared<fakes::MemorySheet>(log);
    services.sheet->Put("B1", u"Quote &DH_DocNo");
    services.sheet->Put("B2", u"&DH_SoldToCompany");
    for (int c = 0; c < columns; ++c)
        services.sheet->Put(fakes::ToA1(5, c + 1), U16(std::string("&DI_") + kItemFields[c]));
    services.sheet->Put("B10", u"Prepared by &APP_LoggedInUserFullName");

    TimingWindow window(templ.u16string()); // a file that exists; the fakes do not read it
    transfer::References refs;
    transfer::CmdExport2Excel_Click(window, services, refs);
    std::map<std::string, double> calls;
    for (const std::string& entry : *log) ++calls[entry.substr(0, entry.find_first_of("(="))];
    return calls;
}

void PrintCallsPerLine(const fs::path& templ, int columns) {
    // The difference of two runs is what the lines cost, without the calls
    // every run makes once.
    constexpr int kFew = 50, kMore = 100;
    const auto few = CountCalls(templ, kFew, columns), more = CountCalls(templ, kMore, columns);
    double total = 0;
    std::string detail;
    for (const auto& [member, count] : more) {
        const auto it = few.find(member);
        const double perLine = (count - (it == few.end() ? 0 : it->second)) / (kMore - kFew);
        if (perLine == 0) continue;
        total += perLine;
        char text[96];
        std::snprintf(text, sizeof text, "  %s %.2f", member.c_str(), perLine);
        detail += text;
    }
    std::printf("automation calls per line, %d item columns: %.2f (%.2f per cell)\n %s\n", columns, total,
                total / columns, detail.c_str());
}

// ---------------------------------------------------------------- LibreOffice

// The seconds LibreOffice took for the work, by wall clock and CPU time.
std::optional<Timing> LibreOfficeTimes(const fs::path& script, const fs::path& templ, const fs::path& document,
                                       const fs::path& out) {
    const fs::path result = out.parent_path() / "uno-times.txt";
    const ProcessRun run = RunProcess(
        {"/usr/bin/python3", script.string(), templ.string(), document.string(), out.string(), result.string()}, {});
    Timing times;
    if (run.status != 0 || !(std::ifstream(result) >> times.seconds >> times.cpu)) return std::nullopt;
    return times;
}

// A build to measure: its program and its template check.
struct Build {
    std::string name;
    fs::path program, check;
};

// The figures of one build for one size.
struct Figures {
    std::optional<ProcessRun> whole, floor, checked;
    double outputMiB = 0;
    fs::path filled;
};

bool SameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(x), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(y), std::istreambuf_iterator<char>());
}

// Exit status 1 is no failure for the check: it found something to mention.
bool Failed(const ProcessRun& run) { return run.status != 0 && run.status != 1; }

// Keeps the faster run (on a machine shared with other work the slower runs
// measure the neighbours); a failed run is kept, to be reported.
void KeepBest(std::optional<ProcessRun>& best, const ProcessRun& run) {
    if (!best || (!Failed(*best) && (Failed(run) || run.seconds < best->seconds))) best = run;
}

} // namespace

int main(int argc, char** argv) {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) self = fs::absolute(argv[0]);
    const fs::path buildDir = self.parent_path().parent_path();
    std::vector<Build> builds = {{"this", buildDir / "vi2zezir", buildDir / "vi2zezir-check"}};
    int runs = 3;
    bool libreOffice = false;
    std::string ext = ".xls";
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--baseline" && i + 1 < argc) {
            const fs::path other = argv[++i];
            builds.push_back({"baseline", other / "vi2zezir", other / "vi2zezir-check"});
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--libreoffice") {
            libreOffice = true;
        } else if (arg == "--xlsx") {
            ext = ".xlsx";
        } else if (std::atoi(arg.c_str()) > 0) {
            sizes.push_back(std::atoi(arg.c_str()));
        } else {
            std::fprintf(
                stderr,
                "usage: program_bench [--baseline BUILD_DIR] [--runs N] [--libreoffice] [--xlsx] [LINES ...]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {1000, 10000, 32767};

    const fs::path dir = fs::temp_directory_path() / ("vz_program_bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path templ = MakeTemplate(dir / "quote-20.xls", kColumns);
    if (ext == ".xlsx") {
        templ = bench::ConvertToXlsx(templ, "lo-program-bench");
        if (templ.empty()) return 1;
    }
    const fs::path emptyQuote = WriteFile(dir / "quote-empty.json", "{}");
    const auto fill = [&](const Build& build, const fs::path& document, const fs::path& templatePath,
                          const fs::path& output) {
        return RunProcess({build.program.string(), "/f:" + templatePath.string()},
                          {{standin::kDocumentVariable, document.string()},
                           {"VI2ZEZIR_OUTPUT", output.string()},
                           {"VI2ZEZIR_HEADLESS", "1"}});
    };

    struct Row {
        int lines = 0;
        double documentMiB = 0;
        std::vector<Figures> figures; // by build
        bool sameOutput = true;
        Timing engine;
        std::vector<double> stages;
    };
    std::vector<Row> rows;
    for (int lines : sizes) {
        std::fprintf(stderr, "%d lines ...\n", lines);
        Row row;
        row.lines = lines;
        const fs::path document = WriteFile(dir / ("quote-" + std::to_string(lines) + ".json"), QuoteDocument(lines));
        row.documentMiB = static_cast<double>(fs::file_size(document)) / (1 << 20);
        row.figures.resize(builds.size());
        // The builds take turns, so that the load of a shared machine falls
        // on all of them alike.
        for (int i = 0; i < runs; ++i) {
            for (std::size_t b = 0; b < builds.size(); ++b) {
                Figures& f = row.figures[b];
                f.filled = dir / ("filled-" + std::to_string(lines) + "-" + builds[b].name + ext);
                KeepBest(f.whole, fill(builds[b], document, templ, f.filled));
            }
        }
        for (std::size_t b = 0; b < builds.size(); ++b) {
            Figures& f = row.figures[b];
            if (f.whole->status != 0 || !fs::exists(f.filled)) {
                std::fprintf(stderr, "%s failed on %d lines (exit status %d)\n", builds[b].program.c_str(), lines,
                             f.whole->status);
                return 1;
            }
            f.outputMiB = static_cast<double>(fs::file_size(f.filled)) / (1 << 20);
            row.sameOutput = row.sameOutput && SameBytes(f.filled, row.figures[0].filled);
        }
        // The floor: the program re-opening the filled workbook and saving it,
        // with a quote that fills nothing; and the check on the workbook.
        for (int i = 0; i < runs; ++i) {
            for (std::size_t b = 0; b < builds.size(); ++b) {
                Figures& f = row.figures[b];
                KeepBest(f.floor, fill(builds[b], emptyQuote, f.filled, dir / ("resaved" + ext)));
                KeepBest(f.checked, RunProcess({builds[b].check.string(), f.filled.string()}, {}));
            }
        }
        row.engine.seconds = 1e9;
        for (int i = 0; i < runs; ++i) {
            const Timing t = OpenAndSave(row.figures[0].filled, dir / ("resaved" + ext));
            if (t.seconds < row.engine.seconds) row.engine = t;
        }
        ::setenv(standin::kDocumentVariable, document.c_str(), 1);
        row.stages = TimeStages(templ, dir / ("in-process" + ext));
        fs::remove(dir / ("in-process" + ext));
        rows.push_back(std::move(row));
    }

    std::printf("%d item columns, best of %d runs", kColumns, runs);
    for (const Build& b : builds) std::printf("; %s: %s", b.name.c_str(), b.program.parent_path().c_str());
    std::printf(
        "\nseconds of wall clock (CPU seconds of that run); re-open+save: the program given the filled\n"
        "workbook as its template and an empty quote; engine: opening and saving it in this process\n\n");
    std::printf("%7s %8s %9s | %17s | %17s %6s | %8s\n", "lines", "doc MiB", "build", "whole process", "re-open+save",
                "ratio", "engine");
    for (const Row& r : rows) {
        for (std::size_t b = 0; b < builds.size(); ++b) {
            const Figures& f = r.figures[b];
            std::printf("%7d %8.1f %9s | %7.3f (%7.3f) | %7.3f (%7.3f) %6.2f | ", r.lines, r.documentMiB,
                        builds[b].name.c_str(), f.whole->seconds, f.whole->cpu, f.floor->seconds, f.floor->cpu,
                        f.whole->seconds / f.floor->seconds);
            if (b == 0)
                std::printf("%8.3f\n", r.engine.seconds);
            else
                std::printf("%8s\n", r.sameOutput ? "" : "(output differs)");
        }
    }

    std::printf(
        "\npeak memory of the whole process beside the workbook written, and the template check\n"
        "(vi2zezir-check) on that workbook\n\n");
    std::printf("%7s %9s | %8s %8s %9s | %17s %8s\n", "lines", "build", "peak MiB", "out MiB", "peak/out", "check",
                "peak MiB");
    for (const Row& r : rows) {
        for (std::size_t b = 0; b < builds.size(); ++b) {
            const Figures& f = r.figures[b];
            std::printf("%7d %9s | %8.1f %8.1f %9.2f | %7.3f (%7.3f) %8.1f\n", r.lines, builds[b].name.c_str(),
                        f.whole->peakKiB / 1024.0, f.outputMiB, f.whole->peakKiB / 1024.0 / f.outputMiB,
                        f.checked->seconds, f.checked->cpu, f.checked->peakKiB / 1024.0);
        }
    }

    std::printf("\nwhere the time goes: the export run of this build in this process, CPU seconds by stage\n\n%7s",
                "lines");
    for (const Stage& stage : kStages) std::printf(" %11s", stage.name);
    std::printf(" %11s\n", "release");
    for (const Row& row : rows) {
        std::printf("%7d", row.lines);
        for (double s : row.stages) std::printf(" %11.3f", s);
        std::printf("\n");
    }
    std::printf("\n");
    PrintCallsPerLine(templ, kColumns);

    if (libreOffice) {
        const fs::path templ8 = MakeTemplate(dir / "quote-8.xls", kLibreOfficeColumns);
        const fs::path document = WriteFile(dir / "quote-lo.json", QuoteDocument(kLibreOfficeLines));
        std::fprintf(stderr, "LibreOffice ...\n");
        const auto theirs = LibreOfficeTimes(fs::path(VZ_SOURCE_DIR) / "bench" / "uno_fill.py", templ8, document,
                                             dir / "filled-8-libreoffice.xls");
        if (!theirs)
            std::printf(
                "\nLibreOffice over UNO: not measured (soffice and /usr/bin/python3 with python3-uno needed)\n");
        else
            std::printf("\n%d lines x %d columns, LibreOffice Calc over UNO: %.1f s (%.1f s CPU)\n", kLibreOfficeLines,
                        kLibreOfficeColumns, theirs->seconds, theirs->cpu);
        for (const Build& build : builds) {
            // A run of some 50 ms is at the mercy of the scheduler: ten of them.
            std::optional<ProcessRun> ours;
            for (int i = 0; i < std::max(runs, 10); ++i)
                KeepBest(ours, fill(build, document, templ8, dir / "filled-8.xls"));
            std::printf("%9s: whole process %.3f s (%.3f CPU)", build.name.c_str(), ours->seconds, ours->cpu);
            if (theirs)
                std::printf(", %.0fx faster by the clock, %.0fx by CPU time", theirs->seconds / ours->seconds,
                            theirs->cpu / ours->cpu);
            std::printf("\n");
        }
    }
    if (!std::getenv("VZ_BENCH_KEEP")) fs::remove_all(dir);
}
