#include "attach_fixture.hpp"

#include <cstring>

namespace qx_test {

LocalDatabase::LocalDatabase(const std::vector<FieldSpec>& fields)
    : system_(std::make_unique<VelmoSystem>()),
      tags_(QX_TAG_RECORDS),
      roh_(QX_ROH_RECORDS),
      info_(std::make_unique<Info>()),
      tag_add_(QX_TAGADD_MAX),
      tags_internal_(QX_TAG_RECORDS) {
    std::memset(system_.get(), 0, sizeof(VelmoSystem));
    system_->n_tag = QX_N_TAG;
    system_->n_roh = QX_N_ROH;
    std::memset(tags_.data(), 0xFF, tags_.size() * sizeof(Tags));
    std::memset(roh_.data(), 0xFF, roh_.size() * sizeof(Rohwerte));
    std::memset(info_.get(), 0, sizeof(Info));
    info_->TimeLastArchiv = info_->TimeLastDetail = info_->TimeLastTag = info_->TimeLastTrend = GetNan();

    int offset = 0;
    for (const FieldSpec& wanted : fields) {
        UserFieldDSC& d = info_->UserFieldDsc[info_->UserFieldCount++];
        std::snprintf(d.FieldName, sizeof d.FieldName, "%s", wanted.name.c_str());
        d.FieldType = wanted.type;
        d.FieldLength = wanted.length;
        d.FieldOffset = offset;
        std::snprintf(d.FormatString, sizeof d.FormatString, "%s", wanted.format.c_str());
        offset += wanted.length;
    }
    info_->UserFieldRecLen = offset;
    user_fields_.assign(static_cast<size_t>(QX_TAG_RECORDS) * static_cast<size_t>(offset), 0);
    for (int tag = 0; tag < QX_TAG_RECORDS; ++tag)
        for (int f = 0; f < info_->UserFieldCount; ++f)
            if (info_->UserFieldDsc[f].FieldType == UF_FLOAT || info_->UserFieldDsc[f].FieldType == UF_DOUBLE)
                std::memset(value(tag, f), 0xFF, static_cast<size_t>(info_->UserFieldDsc[f].FieldLength));

    QX_SetAttachState(system_.get(), tags_.data(), roh_.data(), info_.get(), tag_add_.data(), tags_internal_.data(),
                      user_fields_.data());
}

LocalDatabase::~LocalDatabase() {
    QX_ClearAttachState();
}

unsigned char* LocalDatabase::value(int tag, int field) {
    return user_fields_.data() + static_cast<size_t>(tag) * static_cast<size_t>(info_->UserFieldRecLen) +
           static_cast<size_t>(info_->UserFieldDsc[field].FieldOffset);
}

}  // namespace qx_test
