// The embedded spreadsheet engine: the spreadsheet application the program
// drives when no real one is at hand. It opens a BIFF8 (.xls) template, applies
// the automation calls with a new Excel instance's behaviour, and when made
// visible writes the filled workbook to a new .xls file and hands it on.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "servers/sheet_host.h"

namespace vi2zezir::workbook {

// The program decides where the filled workbook goes; the engine reads no
// environment. Every file is written whole or not at all, and never over the
// template: Workbooks.Open refuses an output that is the template's file.
struct EngineOptions {
    // The file Visible = true writes the workbook to. Empty: a new file in
    // newFileFolder named after the template ("quote40-filled-1.xls"), never
    // one that exists already.
    std::filesystem::path outputPath;
    // Run after the workbook has been written (print the path, open it in the
    // desktop's spreadsheet application). May be empty.
    std::function<void(const std::filesystem::path&)> onSaved;
    // Where new files are made when outputPath is empty; empty: the current
    // folder.
    std::filesystem::path newFileFolder;
};

// A new, hidden application holding no workbook.
std::shared_ptr<sheet::Application> CreateApplication(EngineOptions options = {});

} // namespace vi2zezir::workbook
