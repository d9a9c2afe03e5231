// A program on the common main: attaches to the running data server (or the
// attach responder), works on tags, raw values and user fields, logs through
// the log queue and ends.  Tests check what it left in the database.
#include <cstring>

#include "qx.h"

int KWZServiceMain(int argc, char** argv, char** /*envp*/) {
    SetModulInfo("attach_responder_probe", "Probe of the attach handshake");
    VelmoSystem* system = nullptr;
    Rohwerte* roh = nullptr;
    Tags* tags = nullptr;
    const int attached = QXInit(argc, argv, 0, nullptr, &system, &roh, &tags);
    ux_print_moni("probe: QXInit %d\n", attached);
    if (attached < 1) return attached;

    ux_print_moni("probe: WriteRoh %g %g %g\n", WriteRoh(1, 1.25), WriteRoh(4096, 40.96), WriteRoh(4097, 1.0));
    Tags tag{};
    ReadTag(4096, &tag);
    std::strcpy(tag.Bez, "PROBE");
    tag.Ist = 7.5;
    ux_print_moni("probe: WriteTag %d %d\n", WriteTag(4096, &tag), WriteTag(0, &tag));
    ux_print_moni("probe: Userfield %d %d\n", SetUserfieldText(4096, GetUserfieldNbr("kunde"), "Probe GmbH"),
                  SetUserfieldLong(4096, GetUserfieldNbr("Export"), 3));
    writeMsg(&rMsq, PMS_INFO, 7, "probe: Stop=%d Name=%s", GetStopVelmo(), GetVelmoName());
    return 5;  // not passed on: the common main returns 0
}
