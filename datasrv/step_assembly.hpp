// The parts of one archive step.  A producer sends a step that does not fit
// one queue message as several messages of the same kind and time; the
// server gathers them and writes the whole step at once, so a new day or
// hour file is created with every tag of the step instead of being extended
// once per part.
#pragma once

#include <array>
#include <cstdint>

#include "archive_message.hpp"

namespace datasrv {

class StepAssembly {
public:
    // Tags one gathered step can hold: every tag twice over, more than any
    // producer sends in one step.
    static constexpr uint32_t kCapacity = 2 * QX_N_TAG;

    bool empty() const { return n_ == 0; }
    // True when part continues the step being gathered (same kind and time)
    // and still fits; an empty assembly takes any part that fits.
    bool Accepts(const qx::archive::StepView& part) const;
    // Appends the part's tags and values; the caller checked Accepts.
    void Add(const qx::archive::StepView& part);
    // The gathered step, pointing into this assembly.
    qx::archive::StepView View() const;
    void Clear() { n_ = 0; }

private:
    int kind_ = 0;
    double time_ = 0;
    uint32_t n_ = 0;
    std::array<uint8_t, 4 * kCapacity> tags_{};
    std::array<uint8_t, 8 * kCapacity> data_{};
};

}  // namespace datasrv
