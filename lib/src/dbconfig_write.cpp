// Writers of the tag-database configuration file: the data server's
// QX_SaveConfig2 and the library's VelmoSaveConfig.
#include "dbconfig_write.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "attach_state.hpp"
#include "dbconfig_fields.hpp"
#include "dbconfig_output.hpp"
#include "qx/dbconfig.h"
#include "qx/util.h"
#include "sum_entries.hpp"

namespace qx::dbconfig {

namespace {

constexpr std::string_view kStars =
    "************************************************************************************************************";
static_assert(kStars.size() == 108);

constexpr std::string_view kBannerFree = "  KWZ GmbH  Konfiguration der Tag-Datenbank";

void star_line(Output& out, std::string_view lead) { out.text(lead).text(kStars).eol(); }

void key_u32(Output& out, std::string_view key, int32_t value) {
    out.text(key).ch('=').u32(static_cast<uint32_t>(value)).eol();
}

void key_g15(Output& out, std::string_view key, double value) { out.text(key).ch('=').g(value, 15).eol(); }

template <class T>
T load(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

class Writer {
public:
    Writer(Output& out, WriterKind kind, const ConfigSource& src) : out_(out), kind_(kind), src_(src) {}

    void run() {
        header();
        init_section();
        user_fields();
        monitor('H');
        star_line(out_, kind_ == WriterKind::DataServer ? "#" : "# ");
        monitor('O');
        out_.text("[TagDef]").eol();
        for (int32_t j = 0; j <= QX_N_TAG; ++j)
            if (src_.tags[j].Fkt != 0) tag_block(j, src_.tags[j]);
    }

private:
    void monitor(char step) {
        if (kind_ == WriterKind::Library) ux_print_moni("(4-%c) TagDefaultFkt: %d\n", step, src_.system->TagDefaultFkt);
    }

    void header() {
        star_line(out_, "# ");
        out_.text("# ********* ")
            .text(kind_ == WriterKind::DataServer ? "RA_Vuvuvizi INIT File" : "Velmo INIT File")
            .text(kBannerFree)
            .text(" *********")
            .eol();
        star_line(out_, "# ");
    }

    void init_section() {
        const VelmoSystem& sys = *src_.system;
        out_.text("[Init]").eol();
        out_.text("Bezeichnung=").padded(sys.bezeichnung, 40, 40).eol();
        out_.text("Dir_Archiv=").padded(sys.dir_archiv, 64, 64).eol();
        out_.text("Path_Archiv=");
        if (src_.info != nullptr) out_.padded(src_.info->PathArchiv, sizeof src_.info->PathArchiv, 0);
        out_.eol();
        out_.text("TagDefaultBez=").padded(sys.TagDefaultBez, 25, 25).eol();
        key_u32(out_, "Takt", sys.takt);
        key_u32(out_, "Inter", sys.inter);
        key_u32(out_, "TimeArchiv", sys.time_archiv);
        key_u32(out_, "StoerTakt", sys.stoer_takt);
        key_u32(out_, "StoerInter", sys.stoer_inter);
        key_u32(out_, "Refresh", sys.refresh);
        key_u32(out_, "N_Tag", sys.n_tag);
        key_u32(out_, "N_Roh", sys.n_roh);
        key_u32(out_, "K_Anz", sys.k_anz);
        monitor('B');
        key_u32(out_, "TagDefaultFkt", sys.TagDefaultFkt);
        monitor('C');
    }

    // Only descriptions that fit their record are written; the values of any
    // other would have to be read from outside the record.
    template <class Fn>
    void for_each_field(Fn&& fn) {
        const Info& info = *src_.info;
        const int32_t count = std::clamp<int32_t>(info.UserFieldCount, 0, QX_USERFIELD_MAX);
        for (int32_t f = 0; f < count; ++f)
            if (field_fits(info.UserFieldDsc[f], info.UserFieldRecLen)) fn(info.UserFieldDsc[f]);
    }

    void user_fields() {
        if (src_.info == nullptr || src_.user_fields == nullptr || src_.info->UserFieldCount <= 0) return;
        star_line(out_, "# ");
        out_.text("# * USERFIELDS").eol();
        out_.text("# * UserField=<FIELDNAME>,<FIELDTYPE>,<FIELDLENGTH>,<UNIQUEFLAG>,<EDITFLAG>,<FORMATSTRING>").eol();
        out_.text("[UserFields]").eol();
        for_each_field([&](const UserFieldDSC& field) {
            out_.text("Field=").padded(field.FieldName, sizeof field.FieldName, 0).ch(',');
            out_.text(type_word(field.FieldType)).ch(',').i32(field.FieldLength).ch(',');
            out_.text(field.UniqueFlag == 1 ? "TRUE" : "FALSE").ch(',');
            out_.text(field.EditFlag == 1 ? "TRUE" : "FALSE").ch(',');
            out_.padded(field.FormatString, sizeof field.FormatString, 0).eol();
        });
        star_line(out_, "# ");
        out_.text("# * USERFIELDWERTE").eol();
        for_each_field([&](const UserFieldDSC& field) { field_values(field); });
    }

    void field_values(const UserFieldDSC& field) {
        out_.text("# #########").eol();
        out_.text("[Field=").padded(field.FieldName, sizeof field.FieldName, 0).ch(']').eol();
        const std::size_t rec_len = static_cast<std::size_t>(src_.info->UserFieldRecLen);
        for (int32_t j = 0; j <= QX_N_TAG; ++j) {
            if (src_.tags[j].Fkt == 0) continue;
            const unsigned char* v = src_.user_fields + static_cast<std::size_t>(j) * rec_len +
                                     static_cast<std::size_t>(field.FieldOffset);
            const auto begin = [&] { out_.text("Val=").u32(static_cast<uint32_t>(j)).ch(','); };
            switch (field.FieldType) {
                case UF_TEXT:
                    if (v[0] == 0) break;
                    begin();
                    out_.padded(reinterpret_cast<const char*>(v), static_cast<std::size_t>(field.FieldLength), 0).eol();
                    break;
                case UF_INT:
                    if (const auto x = load<int16_t>(v); x != 0) {
                        begin();
                        out_.i32(x).eol();
                    }
                    break;
                case UF_LONG:
                    if (const auto x = load<int32_t>(v); x != 0) {
                        begin();
                        out_.u32(static_cast<uint32_t>(x)).eol();
                    }
                    break;
                case UF_FLOAT:
                    if (const auto x = load<float>(v); !std::isnan(x)) {
                        begin();
                        out_.g(static_cast<double>(x), 8).eol();
                    }
                    break;
                case UF_DOUBLE:
                    if (const auto x = load<double>(v); !std::isnan(x)) {
                        begin();
                        out_.g(x, 15).eol();
                    }
                    break;
                default: break;
            }
        }
    }

    bool writes_sum_entries(int32_t fkt) const {
        return fkt == QX_FKT_SUM || (kind_ == WriterKind::Library && fkt == QX_FKT_SUM_ALT);
    }

    void tag_block(int32_t j, const Tags& tag) {
        out_.text("TagNr=").u32(static_cast<uint32_t>(j)).eol();
        out_.text("Bez=").padded(tag.Bez, 32, 32).eol();
        key_u32(out_, "Fkt", tag.Fkt);
        if (writes_sum_entries(tag.Fkt)) {
            for (const TagAdd& e : sum::entries_of(sum::used_entries(src_.tag_add, src_.info), j))
                out_.text("TagAdd=").u32(static_cast<uint32_t>(e.AddTag)).ch(',').g(e.Factor, 15).eol();
        }
        key_u32(out_, "Status", static_cast<int32_t>(tag.Status));
        key_g15(out_, "Ist", tag.Ist);
        key_g15(out_, "Dba", tag.Dba);
        key_g15(out_, "Dbe", tag.Dbe);
        key_g15(out_, "Anz", tag.Anz);
        key_g15(out_, "Summe", tag.Summe);
        key_g15(out_, "Mittel", tag.Mittel);
        for (int i = 0; i < 4; ++i) out_.text("Arch[").i32(i).text("]=").i32(tag.Arch[i]).eol();
        out_.text("Nach=").i32(tag.Nach).eol();
        for (int i = 0; i < 5; ++i)
            out_.text("Zeiger[").i32(i).text("]=").u32(static_cast<uint32_t>(tag.Zeiger[i])).eol();
        for (int i = 0; i < 2; ++i) out_.text("HByte[").i32(i).text("]=").i32(tag.HByte[i]).eol();
        for (int i = 0; i < 10; ++i)
            out_.text("Hint[").i32(i).text("]=").u32(static_cast<uint32_t>(tag.Hint[i])).eol();
        for (int i = 0; i < 10; ++i) out_.text("Hdouble[").i32(i).text("]=").g(tag.Hdouble[i], 15).eol();
        out_.text("Text=").padded(tag.Text, 63, 63).eol();
        out_.text("HLog=");
        for (uint8_t b : tag.HLog) out_.hex2(b);
        out_.eol();
        out_.text("# **********").eol();
    }

    Output& out_;
    WriterKind kind_;
    const ConfigSource& src_;
};

}  // namespace

bool render_config(int fd, WriterKind kind, const ConfigSource& src) {
    Output out(fd);
    Writer(out, kind, src).run();
    return out.finish();
}

int save_config(const char* path, WriterKind kind, const ConfigSource& src) {
    const bool written = replace_file(path, [&](int fd) { return render_config(fd, kind, src); });
    return written ? 0 : -1;
}

}  // namespace qx::dbconfig

using qx::dbconfig::ConfigSource;
using qx::dbconfig::WriterKind;

extern "C" {

int QX_SaveConfig2(const char* /*name*/, const char* path, VelmoSystem* system, Tags* tags, Info* info) {
    if (system == nullptr || tags == nullptr) return -2;
    const qx::AttachState& st = qx::attach_state();
    return qx::dbconfig::save_config(path, WriterKind::DataServer,
                                     ConfigSource{system, tags, info, st.tag_add, st.user_fields});
}

int VelmoSaveConfig(const char* /*name*/, const char* path, VelmoSystem* system, Tags* tags) {
    const qx::AttachState& st = qx::attach_state();
    if (system == nullptr) system = st.system;
    if (tags == nullptr) tags = st.tags;
    if (system == nullptr || tags == nullptr) return -2;
    ux_print_moni("(4-A) TagDefaultFkt: %d\n", system->TagDefaultFkt);
    const int rc = qx::dbconfig::save_config(path, WriterKind::Library,
                                             ConfigSource{system, tags, st.info, st.tag_add, st.user_fields});
    ux_print_moni("(4-Z) TagDefaultFkt: %d\n", system->TagDefaultFkt);
    return rc;
}

}  // extern "C"
