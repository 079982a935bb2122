// The window without a display: each status text becomes a line on standard
// output, the path box is a string, and there is no one to pick a file.
#pragma once

#include <cstdio>
#include <string>

#include "shell/form_view.h"

namespace vi2zezir::posix {

class HeadlessView final : public shell::FormView {
public:
    explicit HeadlessView(std::FILE* out = stdout) : out_(out) {}

    void Show() override {}
    void SetTopMost(bool) override {}
    std::u16string PathText() const override { return path_; }
    void SetPathText(const std::u16string& text) override { path_ = text; }
    void SetStatusText(const std::u16string& text) override;
    // No dialog can be shown: the picker is cancelled and nothing changes.
    std::u16string ShowOpenDialog(const shell::OpenDialogOptions&) override { return {}; }
    void Close() override { closed_ = true; }

    bool IsClosed() const { return closed_; }
    const std::u16string& StatusText() const { return status_; }

private:
    std::FILE* out_;
    std::u16string path_;
    std::u16string status_;
    bool closed_ = false;
};

} // namespace vi2zezir::posix
