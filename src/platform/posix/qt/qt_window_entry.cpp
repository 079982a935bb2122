// The Qt window module's entry (see platform/posix/qt_window_module.h).
#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/posix/object_services.h"
#include "platform/posix/qt/desktop_open.h"
#include "platform/posix/qt/qt_main.h"
#include "platform/posix/qt_window_module.h"
#include "vi2zezir_version.h"

extern "C" const char vi2zezir_qt_window_version[] = VI2ZEZIR_VERSION;

extern "C" int vi2zezir_qt_window(vi2zezir::posix::QtWindowRequest& request) {
    using namespace vi2zezir;
    // On a desktop the written workbook opens in the user's spreadsheet
    // application. The workbook is written either way, so a desktop without
    // one is a note, not a failed transfer.
    workbook::EngineOptions options = std::move(request.engineOptions);
    options.onSaved = [written = std::move(options.onSaved)](const std::filesystem::path& path) {
        if (written) written(path);
        try {
            OpenWithDesktop(path);
        } catch (const Failure& failure) {
            std::fprintf(stderr, "%s\n", failure.what());
        }
    };
    posix::PortableObjectServices services(std::move(options));
    return RunQtWindow(request.argc, request.argv, services, request.environment);
}
