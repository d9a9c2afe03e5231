#include "step_assembly.hpp"

#include <cstring>

namespace datasrv {
namespace {

size_t DataBytes(int kind, uint32_t n) {
    return size_t(n) * (qx::archive::per_tag_bytes(kind) - 4);
}

}  // namespace

bool StepAssembly::Accepts(const qx::archive::StepView& part) const {
    if (part.n > kCapacity - n_) return false;
    // Bitwise time comparison: the parts of one step carry the same double.
    return empty() || (part.kind == kind_ && std::memcmp(&part.time, &time_, sizeof time_) == 0);
}

void StepAssembly::Add(const qx::archive::StepView& part) {
    if (empty()) {
        kind_ = part.kind;
        time_ = part.time;
    }
    std::memcpy(tags_.data() + 4 * size_t(n_), part.tags, 4 * size_t(part.n));
    std::memcpy(data_.data() + DataBytes(kind_, n_), part.data, DataBytes(kind_, part.n));
    n_ += part.n;
}

qx::archive::StepView StepAssembly::View() const {
    qx::archive::StepView step;
    step.kind = kind_;
    step.time = time_;
    step.n = n_;
    step.tags = tags_.data();
    step.data = data_.data();
    return step;
}

}  // namespace datasrv
