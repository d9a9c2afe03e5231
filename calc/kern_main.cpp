// qx_calc, the computing core: attaches to the tag database and runs the
// cycle, the minute trend, the detail and the archive interval on the UTC
// epoch grid until a stop is requested.
#include <sched.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "formula_engine.hpp"
#include "kern.hpp"
#include "qx.h"
#include "schedule.hpp"

namespace {

constexpr uint32_t kEventCoreEnded = 0xA1000004u;
constexpr int kPassMilliseconds = 200;

void PrintParameters(int argc, char** argv) {
    ux_print_moni("---- PARAMETERS -----\n");
    ux_print_moni(" <<%s>>\n", argc > 0 && argv[0] != nullptr ? argv[0] : "");
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] != nullptr ? argv[i] : "";
        ux_print_moni("%3.3d :: <<%s>>\n", i, arg);
        static constexpr char kSaveConfig[] = "/SAVECONFIG=";
        if (strncasecmp(arg, kSaveConfig, sizeof kSaveConfig - 1) == 0) {
            // Accepted for the command lines that carry it; the number changes nothing.
            [[maybe_unused]] const long ignored = std::strtol(arg + sizeof kSaveConfig - 1, nullptr, 10);
        }
    }
    ux_print_moni("---------------\n");
}

void PrintStartup(const VelmoSystem* sys) {
    ux_print_moni("<%s>\n", sys->bezeichnung);
    ux_print_moni("Archiv <%s>\n", sys->dir_archiv);
    ux_print_moni("Tag %ld\n", static_cast<long>(sys->n_tag));
    ux_print_moni("Roh %ld\n", static_cast<long>(sys->n_roh));
    ux_print_moni("Takt %ld\n", static_cast<long>(sys->takt));
    ux_print_moni("Inter %ld\n", static_cast<long>(sys->inter));
    ux_print_moni("Refresh %ld\n", static_cast<long>(sys->refresh));
    const char* name = GetVelmoName();
    ux_print_moni("Name %s\n", name != nullptr ? name : "");
    ux_print_moni("###%d###\n", 864);
    ux_print_moni("GetUserfieldCount() == %d\n", GetUserfieldCount());
}

// Counters begin anew after a start; the interval sums start empty.
void PrepareTags(VelmoSystem* sys, Tags* tags) {
    const int n_tag = calc::TagLimit(sys);
    for (int i = 0; i <= n_tag; ++i) {
        Tags& t = tags[i];
        t.Summe = GetNan();
        t.Anz = 0.0;
        if (t.Fkt == 7) {
            t.Hint[7] = 0;
            t.Status |= ST_START;
        }
    }
}

void EnterRealTime() {
    sched_param param{};
    param.sched_priority = 60;
    // Without the privilege the core simply runs at normal priority.
    sched_setscheduler(getpid(), SCHED_FIFO, &param);
    ux_print_moni("SCHED_SETSCHEDULER(SCHED_FIFO / 60) AKTIV !!!!");
}

}  // namespace

int KWZServiceMain(int argc, char** argv, char** /*envp*/) {
    SetModulInfo("qx_calc V1.0", "Rechenkern\nTakt, Minutentrend, Detail- und Archivintervall\nFormeln");
    tzset();

    VelmoSystem* sys = nullptr;
    Rohwerte* roh = nullptr;
    Tags* tags = nullptr;
    const int attached = QXInit(argc, argv, 0, nullptr, &sys, &roh, &tags);
    if (attached < 1) return attached;

    ux_print_moni("Kern TAG 1: %f\n", tags[1].Ist);
    ux_print_moni("vor InitVelmoFormel()");
    InitVelmoFormel(sys, tags);
    ux_print_moni("nach InitVelmoFormel()");
    PrintStartup(sys);

    const char* name = GetVelmoName();
    const std::string base = name != nullptr ? name : "";
    const std::string reconf = base + ".reconf";
    const std::string ini = base + ".ini";
    SetMoniFileNames(reconf.c_str(), ini.c_str());

    PrepareTags(sys, tags);
    PrintParameters(argc, argv);
    DelVelmoTrend(sys);

    std::vector<int32_t> alarms;
    try {
        alarms.assign(static_cast<size_t>(calc::TagLimit(sys)), 0);
    } catch (const std::bad_alloc&) {
        ux_print_moni(" BitAlarmTags Struktur kann nicht allociert werden !!!\n");
        std::exit(-5);
    }
    int32_t alarm_count = 0;

    EnterRealTime();

    calc::ScheduleState state;
    while (ServiceActive != 0 && GetStopVelmo() == 0) {
        Sleep(kPassMilliseconds);
        time_t t = 0;
        const double now = NowUTCT(&t);
        sys->zeit_kern = now;
        const calc::StepPeriods periods{sys->takt, sys->inter, sys->stoer_takt};
        const calc::DueSteps due = calc::DecideDueSteps(static_cast<int64_t>(t), periods, state);
        calc::RunDueSteps(due, static_cast<int64_t>(t), now, sys, tags, roh, &alarm_count, alarms.data());
    }

    const int32_t lock = GetAndWaitTaktMutex();
    ux_print_moni("Ende SaveConfi \n");
    ReleaseTaktMutex(lock);
    VelmoWriteEvent(kEventCoreEnded, "VelmoKern");
    return 0;
}
