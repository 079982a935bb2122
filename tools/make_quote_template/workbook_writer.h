// A plain description of a small formatted workbook and its BIFF8 Workbook
// stream. Only what a quote template needs: fonts, number formats, cell
// formats, text/number/formula/blank cells, column widths, row heights,
// merged areas and a few page-setup choices.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace vi2zezir::tools::biff {

// Indexed colours of the default BIFF8 palette.
namespace colour {
inline constexpr std::uint8_t kBlack = 0x08;
inline constexpr std::uint8_t kWhite = 0x09;
inline constexpr std::uint8_t kGrey25 = 0x16;
inline constexpr std::uint8_t kGrey50 = 0x17;
inline constexpr std::uint8_t kPaleBlue = 0x2C;     // #99CCFF
inline constexpr std::uint8_t kDarkTeal = 0x38;     // #003366
inline constexpr std::uint16_t kAutomatic = 0x7FFF; // font colour "automatic"
} // namespace colour

struct Font {
    std::u16string name = u"Arial";
    std::uint16_t twips = 200; // 10 pt
    bool bold = false;
    bool italic = false;
    std::uint16_t colour = colour::kAutomatic;
};

enum class HAlign : std::uint8_t { General = 0, Left = 1, Center = 2, Right = 3 };
enum class VAlign : std::uint8_t { Top = 0, Center = 1, Bottom = 2 };
enum class Line : std::uint8_t { None = 0, Thin = 1, Medium = 2, Double = 6, Hair = 7 };

struct CellFormat {
    std::uint16_t font = 0;         // index into Workbook::fonts
    std::uint16_t numberFormat = 0; // built-in id or one of Workbook::formats
    HAlign horizontal = HAlign::General;
    VAlign vertical = VAlign::Bottom;
    bool wrap = false;
    std::uint8_t indent = 0;
    Line left = Line::None, right = Line::None, top = Line::None, bottom = Line::None;
    std::uint8_t borderColour = colour::kBlack;
    std::uint8_t fill = 0; // 0: none; otherwise a solid fill of this palette colour
};

struct Formula {
    std::vector<std::uint8_t> rgce;
    double cached = 0; // the value the formula has in the file as written
};

struct Cell {
    std::uint16_t row = 0; // zero-based
    std::uint16_t col = 0;
    std::uint16_t format = 0; // index into Workbook::cellFormats
    std::variant<std::monostate, std::u16string, double, Formula> content;
};

struct MergedArea {
    std::uint16_t rowFirst = 0, rowLast = 0, colFirst = 0, colLast = 0;
};

struct Sheet {
    std::u16string name;
    std::map<std::uint16_t, std::uint16_t> columnWidths; // column -> width in 1/256 characters
    std::map<std::uint16_t, std::uint16_t> rowHeights;   // row -> height in twips
    std::vector<Cell> cells;
    std::vector<MergedArea> merges;
    bool showGridlines = true;
    bool fitToPageWidth = false; // print one page wide, centred
};

struct Workbook {
    // The first four fonts are the workbook defaults by Excel's convention
    // (the writer skips font index 4 on disk, as the format requires).
    std::vector<Font> fonts{Font{}, Font{}, Font{}, Font{}};
    std::map<std::uint16_t, std::u16string> formats; // custom formats, ids from 164
    std::vector<CellFormat> cellFormats;
    std::vector<Sheet> sheets;
};

// The BIFF8 Workbook stream (globals, then each sheet), ready to be stored
// as the "Workbook" stream of a compound file.
std::vector<std::uint8_t> WriteWorkbookStream(const Workbook& book);

// The XF index a cell format gets on disk: the 21 built-in XFs come first.
inline constexpr std::uint16_t kFirstCellXf = 21;
inline constexpr std::uint16_t kDefaultCellXf = 15;

} // namespace vi2zezir::tools::biff
