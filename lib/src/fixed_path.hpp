// Fixed paths of the system, resolved below QX_ROOT when it is set.
#pragma once

#include <string>
#include <string_view>

#include "qx/util.h"

namespace qx {

// "/home/kwz/x.ini" becomes "$QX_ROOT/home/kwz/x.ini" when QX_ROOT is set and
// not empty; otherwise the path is returned unchanged.
std::string fixed_path(std::string_view path);

}  // namespace qx
