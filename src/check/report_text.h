// The check's report for people (grouped, one line a finding, the cell
// first) and for scripts (JSON), both UTF-8.
#pragma once

#include <string>

#include "check/template_check.h"

namespace vi2zezir::check {

std::string FormatForPeople(const Report& report, const std::string& templateName);
std::string FormatJson(const Report& report, const std::string& templateName);

} // namespace vi2zezir::check
