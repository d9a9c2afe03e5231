#include "attach_protocol.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qx {

namespace {

// A record of `size` bytes at `offset` lies in a segment of `segment` bytes
// and starts on a boundary its doubles may live on.
bool record_fits(int64_t offset, int64_t size, int64_t segment) {
    return offset >= 0 && offset % alignof(double) == 0 && size <= segment - offset;
}

}  // namespace

int32_t answer_queue_key(pid_t pid) {
    return static_cast<int32_t>(QX_KEY_ANSWER_BASE + static_cast<uint32_t>(pid));
}

QX_CommandMsg make_attach_request(int32_t answer_key) {
    QX_CommandMsg message{};
    message.mtype = QX_CMD_ATTACH;
    std::snprintf(message.text, sizeof message.text, QX_ATTACH_REQUEST_FORMAT, static_cast<long>(answer_key));
    return message;
}

int32_t parse_answer_key(std::span<const char, QX_CMD_TEXT_SIZE> text) {
    std::array<char, QX_CMD_TEXT_SIZE + 1> terminated{};
    std::memcpy(terminated.data(), text.data(), text.size());
    // Keys travel as signed 32-bit decimals; wrapping keeps an unsigned
    // spelling of the same key working too.
    return static_cast<int32_t>(static_cast<uint32_t>(std::strtoll(terminated.data(), nullptr, 10)));
}

QX_AttachAnswer make_attach_answer(int32_t user_field_rec_len) {
    QX_AttachAnswer answer{};
    answer.mtype = QX_CMD_ATTACH;
    answer.keySegment1 = QX_KEY_SEGMENT1;
    answer.keySegment2 = QX_KEY_SEGMENT2;
    answer.sizeSegment1 = QX_SEG1_SIZE;
    answer.sizeSegment2 = static_cast<int32_t>(QX_SEG2_FIXED_SIZE + int64_t{QX_TAG_RECORDS} * user_field_rec_len);
    answer.offSystem = QX_SEG1_OFF_SYSTEM;
    answer.offTags = QX_SEG1_OFF_TAGS;
    answer.offRoh = QX_SEG1_OFF_ROH;
    answer.offInfo = QX_SEG1_OFF_INFO;
    answer.offTagAdd = QX_SEG2_OFF_TAGADD;
    answer.offTagsInternal = QX_SEG2_OFF_TAGINT;
    answer.offUserFields = QX_SEG2_OFF_USERFIELDS;
    return answer;
}

bool answer_layout_fits(const QX_AttachAnswer& a) {
    const int64_t seg1 = a.sizeSegment1;
    const int64_t seg2 = a.sizeSegment2;
    return seg1 > 0 && seg2 > 0 &&  //
           record_fits(a.offSystem, sizeof(VelmoSystem), seg1) &&
           record_fits(a.offTags, int64_t{QX_TAG_RECORDS} * sizeof(Tags), seg1) &&
           record_fits(a.offRoh, int64_t{QX_ROH_RECORDS} * sizeof(Rohwerte), seg1) &&
           record_fits(a.offInfo, sizeof(Info), seg1) &&
           record_fits(a.offTagAdd, int64_t{QX_TAGADD_MAX} * sizeof(TagAdd), seg2) &&
           record_fits(a.offTagsInternal, int64_t{QX_TAG_RECORDS} * sizeof(TagsInternal), seg2) &&
           a.offUserFields >= 0 && a.offUserFields <= seg2;
}

bool user_fields_fit(const QX_AttachAnswer& a, int32_t rec_len) {
    return rec_len >= 0 && int64_t{QX_TAG_RECORDS} * rec_len <= int64_t{a.sizeSegment2} - a.offUserFields;
}

}  // namespace qx
