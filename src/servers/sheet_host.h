// SheetHost: the spreadsheet application's automation object model, as far as
// the transfer uses it. Names follow the published object model; a reference
// is a shared_ptr (a counted reference), and every call may throw Failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "servers/value.h"

namespace vi2zezir::sheet {

// XlInsertShiftDirection
inline constexpr std::int32_t xlShiftDown = -4121;
inline constexpr std::int32_t xlDown = -4121;

class Range {
public:
    virtual ~Range() = default;
    // Cells.Find(What): the first cell whose content contains the text, or
    // nullptr. Only the What argument is passed.
    virtual std::shared_ptr<Range> Find(const std::u16string& what) = 0;
    // Cells.Replace(What, Replacement); the result is not read.
    virtual void Replace(const std::u16string& what, const std::u16string& replacement) = 0;
    // Absolute A1 text, "$C$12".
    virtual std::u16string Address() = 0;
    // Insert with the one named argument Shift.
    virtual void Insert(std::int32_t shift) = 0;
    virtual std::shared_ptr<Range> Cells() = 0;
    virtual void SetValue(const Value& value) = 0;
    virtual void SetFormula(const std::u16string& formula) = 0;
};

class Worksheet {
public:
    virtual ~Worksheet() = default;
    virtual std::shared_ptr<sheet::Range> Cells() = 0;
    // Range(Cell1) with a plain address such as "C12"; Cell2 omitted.
    virtual std::shared_ptr<sheet::Range> Range(const std::u16string& cell1) = 0;
};

class Workbook {
public:
    virtual ~Workbook() = default;
    // Worksheets(index), index a 16-bit integer.
    virtual std::shared_ptr<Worksheet> Worksheets(std::int16_t index) = 0;
};

class Workbooks {
public:
    virtual ~Workbooks() = default;
    // Workbooks.Open(Filename, ReadOnly), every other parameter omitted.
    virtual std::shared_ptr<Workbook> Open(const std::u16string& filename, bool readOnly) = 0;
    // Workbooks(index), through the default member.
    virtual std::shared_ptr<Workbook> Item(std::int16_t index) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual std::shared_ptr<sheet::Workbooks> Workbooks() = 0;
    virtual void SetVisible(bool visible) = 0;
    // Discard everything unsaved and end the application.
    virtual void Quit() = 0;
};

} // namespace vi2zezir::sheet
