#include "support/libreoffice.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <signal.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace vi2zezir::test {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- processes

std::optional<fs::path> FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) {
            continue;
        }
        fs::path candidate = fs::path(dir) / program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

struct RunResult {
    int exitCode = -1;
    std::string output; // stdout (and stderr when merged)
};

// Runs argv in its own process group with stdout captured; on timeout the
// whole group is killed (soffice starts soffice.bin below its launcher).
RunResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout, bool mergeStderr) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw LibreOfficeError(std::string("pipe: ") + std::strerror(errno));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw LibreOfficeError(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(fds[1], STDOUT_FILENO);
        if (mergeStderr) {
            ::dup2(fds[1], STDERR_FILENO);
        } else {
            const int devNull = ::open("/dev/null", O_WRONLY);
            if (devNull >= 0) {
                ::dup2(devNull, STDERR_FILENO);
            }
        }
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    ::close(fds[1]);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0) {
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break; // EOF: the child closed its end
            }
            result.output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fds[0]);
    if (timedOut) {
        ::kill(-pid, SIGKILL);
    }
    int status = 0;
    // The launcher may outlive the closed pipe briefly; wait for it, bounded.
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, timedOut ? 0 : WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            timedOut = true;
        }
        ::usleep(20000);
    }
    if (timedOut) {
        throw LibreOfficeError("'" + argv[0] + "' did not finish within " + std::to_string(timeout.count() / 1000) +
                               " s");
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// A scratch directory removed on every way out.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<unsigned> counter{0};
        std::random_device rd;
        path_ = fs::temp_directory_path() /
                ("vz-lo-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string Unzip(const fs::path& zip, const std::string& member, bool required) {
    RunResult r = Run({"unzip", "-p", zip.string(), member}, std::chrono::seconds(30), false);
    if (r.exitCode != 0) {
        if (!required) {
            return {};
        }
        throw LibreOfficeError("'" + member + "' missing from " + zip.string());
    }
    return r.output;
}

// ---------------------------------------------------------------- XML

// A tag of a pull parse: name without namespace prefix, attributes with theirs.
struct Tag {
    std::string name;
    bool closing = false;
    bool selfClosing = false;
    std::map<std::string, std::string> attributes;

    std::string Attr(const std::string& key) const {
        auto it = attributes.find(key);
        return it == attributes.end() ? std::string{} : it->second;
    }
};

class XmlReader {
public:
    explicit XmlReader(std::string_view xml) : xml_(xml) {}

    // Advances to the next element tag; text between the previous tag and
    // this one is in Text(). False at the end.
    bool Next() {
        for (;;) {
            const std::size_t open = xml_.find('<', pos_);
            if (open == std::string_view::npos) {
                text_ = xml_.substr(pos_);
                pos_ = xml_.size();
                return false;
            }
            text_ = xml_.substr(pos_, open - pos_);
            if (xml_.compare(open, 4, "<!--") == 0) {
                pos_ = Skip(open, "-->");
                continue;
            }
            if (xml_.compare(open, 2, "<?") == 0 || xml_.compare(open, 2, "<!") == 0) {
                pos_ = Skip(open, ">");
                continue;
            }
            const std::size_t close = xml_.find('>', open);
            if (close == std::string_view::npos) {
                throw LibreOfficeError("unterminated XML tag");
            }
            ParseTag(xml_.substr(open + 1, close - open - 1));
            pos_ = close + 1;
            return true;
        }
    }

    const Tag& Current() const { return tag_; }
    std::string Text() const { return DecodeXmlText(text_); }

private:
    std::size_t Skip(std::size_t from, std::string_view end) {
        const std::size_t at = xml_.find(end, from);
        if (at == std::string_view::npos) {
            throw LibreOfficeError("unterminated XML construct");
        }
        return at + end.size();
    }

    void ParseTag(std::string_view inner) {
        tag_ = Tag{};
        if (!inner.empty() && inner.front() == '/') {
            tag_.closing = true;
            inner.remove_prefix(1);
        }
        if (!inner.empty() && inner.back() == '/') {
            tag_.selfClosing = true;
            inner.remove_suffix(1);
        }
        std::size_t i = 0;
        auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        while (i < inner.size() && !isSpace(inner[i])) {
            ++i;
        }
        std::string_view name = inner.substr(0, i);
        if (const auto colon = name.find(':'); colon != std::string_view::npos) {
            name.remove_prefix(colon + 1);
        }
        tag_.name = std::string(name);
        while (i < inner.size()) {
            while (i < inner.size() && isSpace(inner[i])) {
                ++i;
            }
            const std::size_t keyStart = i;
            while (i < inner.size() && inner[i] != '=' && !isSpace(inner[i])) {
                ++i;
            }
            const std::string key(inner.substr(keyStart, i - keyStart));
            while (i < inner.size() && inner[i] != '"' && inner[i] != '\'') {
                ++i;
            }
            if (i >= inner.size()) {
                break;
            }
            const char quote = inner[i++];
            const std::size_t valueStart = i;
            while (i < inner.size() && inner[i] != quote) {
                ++i;
            }
            tag_.attributes[key] = DecodeXmlText(inner.substr(valueStart, i - valueStart));
            ++i;
        }
    }

    std::string_view xml_;
    std::size_t pos_ = 0;
    std::string_view text_;
    Tag tag_;
};

void AppendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// ---------------------------------------------------------------- xlsx parts

const std::map<int, std::string>& BuiltInFormats() {
    static const std::map<int, std::string> formats = {{0, "General"},
                                                       {1, "0"},
                                                       {2, "0.00"},
                                                       {3, "#,##0"},
                                                       {4, "#,##0.00"},
                                                       {9, "0%"},
                                                       {10, "0.00%"},
                                                       {11, "0.00E+00"},
                                                       {12, "# ?/?"},
                                                       {13, "# ?\?/??"},
                                                       {14, "mm-dd-yy"},
                                                       {15, "d-mmm-yy"},
                                                       {16, "d-mmm"},
                                                       {17, "mmm-yy"},
                                                       {18, "h:mm AM/PM"},
                                                       {19, "h:mm:ss AM/PM"},
                                                       {20, "h:mm"},
                                                       {21, "h:mm:ss"},
                                                       {22, "m/d/yy h:mm"},
                                                       {37, "#,##0 ;(#,##0)"},
                                                       {38, "#,##0 ;[Red](#,##0)"},
                                                       {39, "#,##0.00;(#,##0.00)"},
                                                       {40, "#,##0.00;[Red](#,##0.00)"},
                                                       {45, "mm:ss"},
                                                       {46, "[h]:mm:ss"},
                                                       {47, "mmss.0"},
                                                       {48, "##0.0E+0"},
                                                       {49, "@"}};
    return formats;
}

int ToInt(const std::string& text, int fallback = 0) {
    int v = fallback;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

struct CellStyle {
    std::string numberFormat = "General";
    bool bold = false;
    double fontPoints = 0;
};

std::vector<CellStyle> ParseStyles(const std::string& xml) {
    std::map<int, std::string> custom;
    struct Font {
        bool bold = false;
        double points = 0;
    };
    std::vector<Font> fonts;
    std::vector<CellStyle> styles;
    XmlReader r(xml);
    bool inFonts = false, inCellXfs = false;
    while (r.Next()) {
        const Tag& t = r.Current();
        if (t.name == "numFmt" && !t.closing) {
            custom[ToInt(t.Attr("numFmtId"))] = t.Attr("formatCode");
        } else if (t.name == "fonts") {
            inFonts = !t.closing && !t.selfClosing;
        } else if (t.name == "cellXfs") {
            inCellXfs = !t.closing && !t.selfClosing;
        } else if (inFonts && t.name == "font" && !t.closing) {
            fonts.emplace_back();
        } else if (inFonts && t.name == "b" && !fonts.empty()) {
            const std::string val = t.Attr("val");
            fonts.back().bold = val.empty() || val == "true" || val == "1";
        } else if (inFonts && t.name == "sz" && !fonts.empty()) {
            fonts.back().points = std::strtod(t.Attr("val").c_str(), nullptr);
        } else if (inCellXfs && t.name == "xf" && !t.closing) {
            CellStyle style;
            const int fmt = ToInt(t.Attr("numFmtId"));
            if (auto it = custom.find(fmt); it != custom.end()) {
                style.numberFormat = it->second;
            } else if (auto b = BuiltInFormats().find(fmt); b != BuiltInFormats().end()) {
                style.numberFormat = b->second;
            } else {
                style.numberFormat = "#" + std::to_string(fmt);
            }
            const int font = ToInt(t.Attr("fontId"));
            if (font >= 0 && static_cast<std::size_t>(font) < fonts.size()) {
                style.bold = fonts[font].bold;
                style.fontPoints = fonts[font].points;
            }
            styles.push_back(style);
        }
    }
    return styles;
}

std::vector<std::string> ParseSharedStrings(const std::string& xml) {
    std::vector<std::string> strings;
    XmlReader r(xml);
    bool inItem = false, inPhonetic = false, inText = false;
    std::string current;
    while (r.Next()) {
        const Tag& t = r.Current();
        if (inText && !inPhonetic) {
            current += r.Text();
        }
        inText = false;
        if (t.name == "si") {
            if (t.closing) {
                strings.push_back(current);
                inItem = false;
            } else if (t.selfClosing) {
                strings.emplace_back();
            } else {
                current.clear();
                inItem = true;
            }
        } else if (t.name == "rPh") {
            inPhonetic = !t.closing && !t.selfClosing;
        } else if (t.name == "t" && inItem && !t.closing && !t.selfClosing) {
            inText = true;
        }
    }
    return strings;
}

LoSheet ParseSheet(const std::string& xml, const std::vector<std::string>& strings,
                   const std::vector<CellStyle>& styles) {
    LoSheet sheet;
    XmlReader r(xml);
    std::string address;
    LoCell cell;
    enum class In { None, Value, Formula, InlineText } in = In::None;
    bool inCell = false;
    auto finishCell = [&] {
        if (cell.type == "s") {
            const int index = ToInt(cell.value, -1);
            if (index < 0 || static_cast<std::size_t>(index) >= strings.size()) {
                throw LibreOfficeError("shared string index out of range at " + address);
            }
            cell.value = strings[index];
        }
        sheet.cells[address] = cell;
    };
    while (r.Next()) {
        const Tag& t = r.Current();
        switch (in) {
        case In::Value: cell.value += r.Text(); break;
        case In::Formula: cell.formula += r.Text(); break;
        case In::InlineText: cell.value += r.Text(); break;
        case In::None: break;
        }
        in = In::None;
        if (t.name == "c" && !t.closing) {
            address = t.Attr("r");
            cell = LoCell{};
            cell.type = t.Attr("t").empty() ? "n" : t.Attr("t");
            const std::string s = t.Attr("s");
            const int styleIndex = s.empty() ? 0 : ToInt(s);
            if (styleIndex >= 0 && static_cast<std::size_t>(styleIndex) < styles.size()) {
                cell.numberFormat = styles[styleIndex].numberFormat;
                cell.bold = styles[styleIndex].bold;
                cell.fontPoints = styles[styleIndex].fontPoints;
            }
            if (t.selfClosing) {
                finishCell();
            } else {
                inCell = true;
            }
        } else if (t.name == "c" && t.closing) {
            if (!cell.formula.empty()) {
                cell.formula = "=" + cell.formula;
            }
            finishCell();
            inCell = false;
        } else if (inCell && !t.closing && !t.selfClosing) {
            if (t.name == "v") {
                in = In::Value;
            } else if (t.name == "f") {
                in = In::Formula;
            } else if (t.name == "t") {
                in = In::InlineText;
            }
        } else if (t.name == "mergeCell" && !t.closing) {
            sheet.merges.push_back(t.Attr("ref"));
        } else if (t.name == "conditionalFormatting" && !t.closing) {
            sheet.conditionalFormats.push_back(t.Attr("sqref"));
        } else if (t.name == "dataValidation" && !t.closing) {
            sheet.validations.push_back(t.Attr("sqref"));
        }
    }
    return sheet;
}

} // namespace

std::string DecodeXmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t end = text.find(';', i);
        if (end == std::string_view::npos) {
            out += text.substr(i);
            break;
        }
        const std::string_view entity = text.substr(i + 1, end - i - 1);
        if (entity == "amp") {
            out += '&';
        } else if (entity == "lt") {
            out += '<';
        } else if (entity == "gt") {
            out += '>';
        } else if (entity == "quot") {
            out += '"';
        } else if (entity == "apos") {
            out += '\'';
        } else if (entity.size() > 1 && entity[0] == '#') {
            unsigned long cp = 0;
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string digits(entity.substr(hex ? 2 : 1));
            cp = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
            AppendUtf8(out, cp);
        } else {
            out += text.substr(i, end - i + 1); // unknown: keep as written
        }
        i = end;
    }
    return out;
}

const LoCell* LoSheet::At(std::string_view address) const {
    auto it = cells.find(std::string(address));
    return it == cells.end() ? nullptr : &it->second;
}

std::string LoSheet::Value(std::string_view address) const {
    const LoCell* cell = At(address);
    return cell != nullptr ? cell->value : std::string{};
}

std::string LoSheet::Formula(std::string_view address) const {
    const LoCell* cell = At(address);
    return cell != nullptr ? cell->formula : std::string{};
}

std::vector<LoSheet> ParseXlsx(const fs::path& xlsx) {
    const std::string workbook = Unzip(xlsx, "xl/workbook.xml", true);
    const std::string rels = Unzip(xlsx, "xl/_rels/workbook.xml.rels", true);
    const std::vector<CellStyle> styles = ParseStyles(Unzip(xlsx, "xl/styles.xml", false));
    const std::vector<std::string> strings = ParseSharedStrings(Unzip(xlsx, "xl/sharedStrings.xml", false));

    std::map<std::string, std::string> targets;
    for (XmlReader r(rels); r.Next();) {
        if (r.Current().name == "Relationship") {
            targets[r.Current().Attr("Id")] = r.Current().Attr("Target");
        }
    }
    std::vector<std::pair<std::string, std::string>> sheetParts; // name, part
    for (XmlReader r(workbook); r.Next();) {
        const Tag& t = r.Current();
        if (t.name == "sheet" && !t.closing) {
            std::string target = targets[t.Attr("r:id")];
            if (target.empty()) {
                throw LibreOfficeError("no part for sheet '" + t.Attr("name") + "'");
            }
            std::string part = target.front() == '/' ? target.substr(1) : "xl/" + target;
            sheetParts.emplace_back(t.Attr("name"), part);
        }
    }
    std::vector<std::string> names;
    for (const auto& [name, part] : sheetParts) {
        names.push_back(name);
    }
    std::vector<LoSheet> sheets;
    for (const auto& [name, part] : sheetParts) {
        LoSheet sheet = ParseSheet(Unzip(xlsx, part, true), strings, styles);
        sheet.name = name;
        sheet.sheetNames = names;
        sheets.push_back(std::move(sheet));
    }
    return sheets;
}

std::optional<std::vector<LoSheet>> ReadAllSheetsWithLibreOffice(const fs::path& workbook, std::string* whyNot,
                                                                 LoOptions options) {
    for (const char* tool : {"soffice", "unzip"}) {
        if (!FindOnPath(tool)) {
            if (whyNot != nullptr) {
                *whyNot = std::string(tool) + " is not installed (tools/install-deps.sh installs it)";
            }
            return std::nullopt;
        }
    }
    if (!fs::exists(workbook)) {
        throw LibreOfficeError("no such file: " + workbook.string());
    }
    ScratchDir scratch;
    const fs::path profile = scratch.Path() / "profile";
    const fs::path outDir = scratch.Path() / "out";
    fs::create_directories(outDir);
    // A copy under a fixed name: the output name follows the input's stem.
    const fs::path input = scratch.Path() / ("input" + workbook.extension().string());
    fs::copy_file(workbook, input);
    const RunResult r = Run({"soffice", "--headless", "--norestore", "-env:UserInstallation=file://" + profile.string(),
                             "--convert-to", "xlsx", "--outdir", outDir.string(), input.string()},
                            options.timeout, true);
    const fs::path xlsx = outDir / "input.xlsx";
    if (r.exitCode != 0 || !fs::exists(xlsx)) {
        throw LibreOfficeError("LibreOffice could not convert " + workbook.string() + " (exit " +
                               std::to_string(r.exitCode) + "): " + r.output);
    }
    return ParseXlsx(xlsx);
}

std::optional<LoSheet> ReadWithLibreOffice(const fs::path& workbook, std::string* whyNot, LoOptions options) {
    auto sheets = ReadAllSheetsWithLibreOffice(workbook, whyNot, options);
    if (!sheets) {
        return std::nullopt;
    }
    if (sheets->empty()) {
        throw LibreOfficeError("the converted workbook has no sheet");
    }
    return std::move(sheets->front());
}

} // namespace vi2zezir::test
