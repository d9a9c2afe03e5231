// The one place that knows QX_ROOT: fixed paths of the system are resolved
// below it, so tests and a second installation never touch /home/kwz or /sys.
#include "fixed_path.hpp"

#include <cstdlib>
#include <cstring>

namespace qx {

std::string fixed_path(std::string_view path) {
    const char* root = std::getenv("QX_ROOT");
    std::string_view prefix = root != nullptr ? root : "";
    while (!prefix.empty() && prefix.back() == '/') prefix.remove_suffix(1);  // "/tmp/s/" == "/tmp/s"
    std::string mapped;
    mapped.reserve(prefix.size() + path.size());
    mapped.append(prefix).append(path);
    return mapped;
}

}  // namespace qx

extern "C" int QX_FixedPath(const char* path, char* out, size_t outsize) {
    if (path == nullptr || out == nullptr || outsize == 0) return -1;
    const std::string mapped = qx::fixed_path(path);
    if (mapped.size() + 1 > outsize) return -1;
    std::memcpy(out, mapped.c_str(), mapped.size() + 1);
    return static_cast<int>(mapped.size());
}
