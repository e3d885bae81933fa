// The page the view serves, built into the program from sim/view/page/ (no build step, nothing
// fetched from elsewhere). The HTML carries the placeholder {{TOKEN}} for the request token.
#pragma once

#include <string_view>

namespace vantrel::sim::view {

extern const std::string_view kIndexHtml;
extern const std::string_view kAppJs;
extern const std::string_view kAppCss;

}  // namespace vantrel::sim::view
