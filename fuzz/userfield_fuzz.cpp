// GetUserfieldText and SetUserfieldText with any field description, format
// string and stored bytes: never a read or write outside the field, never a
// crash from a format that does not fit the value.
//
// Input: type, length, tag (2 bytes), 32 format bytes, then the value bytes
// and, after them, a text for SetUserfieldText.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qx.h"

namespace {

constexpr int kRecordLength = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 + 32) return 0;
    static auto info = std::make_unique<Info>();
    static std::vector<unsigned char> records(size_t{QX_TAG_RECORDS} * kRecordLength);
    std::memset(info.get(), 0, sizeof(Info));
    info->UserFieldCount = 1;
    info->UserFieldRecLen = kRecordLength;
    UserFieldDSC& d = info->UserFieldDsc[0];
    d.FieldType = data[0] % 7;
    d.FieldLength = data[1] % (kRecordLength + 2);  // also 0 and too long
    d.FieldOffset = 0;
    const int tag = (data[2] | (data[3] << 8)) % (QX_TAG_RECORDS + 1);
    std::memcpy(d.FormatString, data + 4, sizeof d.FormatString);  // need not be terminated
    data += 36;
    size -= 36;

    // The value bytes go into the tag's record, just that many.
    const size_t value_bytes = std::min<size_t>(size, kRecordLength);
    std::memset(records.data(), 0, records.size());
    if (tag >= 0 && tag < QX_TAG_RECORDS) std::memcpy(records.data() + size_t(tag) * kRecordLength, data, value_bytes);
    QX_SetAttachState(nullptr, nullptr, nullptr, info.get(), nullptr, nullptr, records.data());

    char buffer[64];
    const int buffer_size = static_cast<int>(value_bytes % sizeof buffer);
    GetUserfieldText(tag, 0, buffer, buffer_size);
    GetUserfieldTextDefault(tag, 0, buffer, sizeof buffer);
    const std::string text(reinterpret_cast<const char*>(data) + value_bytes, size - value_bytes);
    SetUserfieldText(tag, 0, text.c_str());
    GetUserfieldText(tag, 0, buffer, sizeof buffer);
    QX_ClearAttachState();
    return 0;
}
