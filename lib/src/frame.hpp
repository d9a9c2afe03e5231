// Process state of the program frame that tests and the library look at.
#pragma once

#include <string_view>

namespace qx {

// The module name and description as SetModulInfo stored them.
std::string_view module_name();
std::string_view module_description();

}  // namespace qx
