// The report page's style sheet and script, kept as page_style.css and
// page_script.js so that they read as what they are; the build turns them
// into these constants.
#pragma once

#include <string_view>

namespace kdsp {

extern const std::string_view REPORT_PAGE_STYLE;
extern const std::string_view REPORT_PAGE_SCRIPT;

}  // namespace kdsp
