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
//
//   program_bench [--program vi2zezir] [--check vi2zezir-check] [--runs N]
//                 [--libreoffice] [LINES ...]
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

#include "export/export_run.h"
#include "fakes/recording_servers.h"
#include "platform/posix/object_services.h"
#include "servers/value.h"
#include "standin/quote_document.h"
#include "workbook/engine.h"
#include "workbook/xls_builder.h"

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

// The best of `runs` runs, by wall clock: on a machine shared with other
// work the slower runs measure the neighbours.
ProcessRun BestOf(int runs, const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
    std::optional<ProcessRun> best;
    for (int i = 0; i < runs; ++i) {
        const ProcessRun run = RunProcess(argv, env);
        if (run.status != 0 && run.status != 1) return run; // 1: the check found something to mention
        if (!best || run.seconds < best->seconds) best = run;
    }
    return *best;
}

// ---------------------------------------------------------------- in process

struct Timing {
    double seconds = 0, cpu = 0;
};

// The floor: the engine opening the filled workbook and saving it again.
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

// The real export run in this process; the seconds of every stage, then the
// release of the references and of the running stand-in.
std::vector<double> TimeStages(const fs::path& templ) {
    TimingWindow window(templ.u16string());
    std::vector<double> seconds;
    {
        posix::PortableObjectServices services;
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

    TimingWindow window(templ.u16string()); // read by nothing but the existence test
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

std::optional<double> LibreOfficeSeconds(const fs::path& script, const fs::path& templ, const fs::path& document,
                                         const fs::path& out) {
    const fs::path result = out.parent_path() / "uno-seconds.txt";
    const ProcessRun run = RunProcess(
        {"/usr/bin/python3", script.string(), templ.string(), document.string(), out.string(), result.string()}, {});
    if (run.status != 0) return std::nullopt;
    double seconds = 0;
    std::ifstream(result) >> seconds;
    return seconds;
}

fs::path Sibling(const char* self, const char* name) {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) exe = fs::absolute(self);
    return exe.parent_path().parent_path() / name;
}

} // namespace

int main(int argc, char** argv) {
    std::string program = Sibling(argv[0], "vi2zezir").string();
    std::string check = Sibling(argv[0], "vi2zezir-check").string();
    int runs = 3;
    bool libreOffice = false;
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--program" && i + 1 < argc) {
            program = argv[++i];
        } else if (arg == "--check" && i + 1 < argc) {
            check = argv[++i];
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--libreoffice") {
            libreOffice = true;
        } else if (std::atoi(arg.c_str()) > 0) {
            sizes.push_back(std::atoi(arg.c_str()));
        } else {
            std::fprintf(stderr,
                         "usage: program_bench [--program vi2zezir] [--check vi2zezir-check] [--runs N] "
                         "[--libreoffice] [LINES ...]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {1000, 10000, 32767};

    const fs::path dir = fs::temp_directory_path() / ("vz_program_bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path templ = MakeTemplate(dir / "quote-20.xls", kColumns);
    const fs::path emptyQuote = WriteFile(dir / "quote-empty.json", "{}");

    struct Row {
        int lines = 0;
        double documentMiB = 0, outputMiB = 0;
        ProcessRun whole, floor, checked;
        Timing engine;
        std::vector<double> stages;
    };
    std::vector<Row> rows;
    for (int lines : sizes) {
        std::fprintf(stderr, "%d lines ...\n", lines);
        Row row;
        row.lines = lines;
        const fs::path document = WriteFile(dir / ("quote-" + std::to_string(lines) + ".json"), QuoteDocument(lines));
        const fs::path filled = dir / ("filled-" + std::to_string(lines) + ".xls");
        const fs::path resaved = dir / "resaved.xls";
        row.whole = BestOf(runs, {program, "/f:" + templ.string()},
                           {{standin::kDocumentVariable, document.string()},
                            {"VI2ZEZIR_OUTPUT", filled.string()},
                            {"VI2ZEZIR_HEADLESS", "1"}});
        if (row.whole.status != 0 || !fs::exists(filled)) {
            std::fprintf(stderr, "%s failed on %d lines (exit status %d)\n", program.c_str(), lines, row.whole.status);
            return 1;
        }
        // The floor: the same program re-opening the filled workbook and
        // saving it, with a quote that fills nothing.
        row.floor = BestOf(runs, {program, "/f:" + filled.string()},
                           {{standin::kDocumentVariable, emptyQuote.string()},
                            {"VI2ZEZIR_OUTPUT", resaved.string()},
                            {"VI2ZEZIR_HEADLESS", "1"}});
        row.engine.seconds = 1e9;
        for (int i = 0; i < runs; ++i) {
            const Timing t = OpenAndSave(filled, resaved);
            if (t.seconds < row.engine.seconds) row.engine = t;
        }
        row.checked = BestOf(runs, {check, filled.string()}, {});
        row.documentMiB = static_cast<double>(fs::file_size(document)) / (1 << 20);
        row.outputMiB = static_cast<double>(fs::file_size(filled)) / (1 << 20);

        ::setenv(standin::kDocumentVariable, document.c_str(), 1);
        ::setenv("VI2ZEZIR_OUTPUT", (dir / "in-process.xls").c_str(), 1);
        row.stages = TimeStages(templ);
        fs::remove(dir / "in-process.xls");
        rows.push_back(std::move(row));
    }

    std::printf("%s, %d item columns, best of %d runs\n", program.c_str(), kColumns, runs);
    std::printf(
        "seconds of wall clock (CPU seconds of the run); re-open+save: the program given the filled\n"
        "workbook as its template and an empty quote; engine: opening and saving it in this process\n\n");
    std::printf("%7s %8s | %17s | %17s %6s | %8s\n", "lines", "doc MiB", "whole process", "re-open+save", "ratio",
                "engine");
    for (const Row& r : rows)
        std::printf("%7d %8.1f | %7.3f (%7.3f) | %7.3f (%7.3f) %6.2f | %8.3f\n", r.lines, r.documentMiB,
                    r.whole.seconds, r.whole.cpu, r.floor.seconds, r.floor.cpu, r.whole.seconds / r.floor.seconds,
                    r.engine.seconds);

    std::printf(
        "\npeak memory of the whole process beside the workbook written, and the template check\n"
        "(vi2zezir-check) on that workbook\n\n");
    std::printf("%7s | %8s %8s %9s | %17s %8s\n", "lines", "peak MiB", "out MiB", "peak/out", "check", "peak MiB");
    for (const Row& r : rows)
        std::printf("%7d | %8.1f %8.1f %9.2f | %7.3f (%7.3f) %8.1f\n", r.lines, r.whole.peakKiB / 1024.0, r.outputMiB,
                    r.whole.peakKiB / 1024.0 / r.outputMiB, r.checked.seconds, r.checked.cpu,
                    r.checked.peakKiB / 1024.0);

    std::printf("\nwhere the time goes: the export run in this process, CPU seconds by stage\n\n%7s", "lines");
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
        const fs::path filled = dir / "filled-8.xls";
        const ProcessRun ours = BestOf(runs, {program, "/f:" + templ8.string()},
                                       {{standin::kDocumentVariable, document.string()},
                                        {"VI2ZEZIR_OUTPUT", filled.string()},
                                        {"VI2ZEZIR_HEADLESS", "1"}});
        std::fprintf(stderr, "LibreOffice ...\n");
        const auto theirs = LibreOfficeSeconds(fs::path(VZ_SOURCE_DIR) / "bench" / "uno_fill.py", templ8, document,
                                               dir / "filled-8-libreoffice.xls");
        if (!theirs) {
            std::printf(
                "\nLibreOffice over UNO: not measured (soffice and /usr/bin/python3 with python3-uno needed)\n");
        } else {
            std::printf(
                "\n%d lines x %d columns: whole process %.3f s, LibreOffice Calc over UNO %.1f s: %.0fx faster\n",
                kLibreOfficeLines, kLibreOfficeColumns, ours.seconds, *theirs, *theirs / ours.seconds);
        }
    }
    if (!std::getenv("VZ_BENCH_KEEP")) fs::remove_all(dir);
}
