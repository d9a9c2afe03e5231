// Loading and saving the tag-database configuration file of a full
// installation (4096 configured tags with every field set, 2000 sum entries,
// 8 user fields valued for every tag), each against a bare line loop that
// reads or writes the same bytes.  Goals: load <= 5x, save <= 3x.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dbconfig_database.hpp"
#include "qx.h"

namespace {

constexpr double kLoadGoal = 5.0;
constexpr double kSaveGoal = 3.0;

struct Fixture {
    std::string dir;
    std::string file;       // written once, loaded by the benchmarks
    std::string save_file;  // rewritten by the save benchmarks
    std::vector<std::string> lines;
    qx::dbconfig::Database db;
};

Fixture* fixture = nullptr;

void add_field(Info& info, const char* name, int32_t type, int32_t length, const char* format) {
    UserFieldDSC& f = info.UserFieldDsc[info.UserFieldCount++];
    std::snprintf(f.FieldName, sizeof f.FieldName, "%s", name);
    f.FieldType = type;
    f.FieldLength = length;
    f.FieldOffset = info.UserFieldRecLen;
    std::snprintf(f.FormatString, sizeof f.FormatString, "%s", format);
    info.UserFieldRecLen += length;
}

// A full database, written once with the data server's writer.
void build_fixture(Fixture& fx) {
    char dir_template[] = "/tmp/qx-dbconfig-bench-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) std::abort();
    fx.dir = dir_template;
    fx.file = fx.dir + "/ra_vuvuvizi.ini";
    fx.save_file = fx.dir + "/saved.ini";

    qx::dbconfig::Database& db = fx.db;
    QX_ReadSysInfo("/nonexistent", &db.system, db.info.get());  // defaults
    Info& info = *db.info;
    std::snprintf(info.PathArchiv, sizeof info.PathArchiv, "/home/kwz/QX_ARCHIV");
    add_field(info, "Kommentar", UF_TEXT, 48, "%s");
    add_field(info, "Einheit", UF_TEXT, 16, "%s");
    add_field(info, "Klasse", UF_INT, 2, "%d");
    add_field(info, "Export", UF_LONG, 4, "%ld");
    add_field(info, "Kanal", UF_LONG, 4, "%ld");
    add_field(info, "Faktor", UF_FLOAT, 4, "%g");
    add_field(info, "Grenze", UF_DOUBLE, 8, "%g");
    add_field(info, "Offset", UF_DOUBLE, 8, "%.3f");
    db.user_fields.assign(std::size_t{QX_TAG_RECORDS} * static_cast<std::size_t>(info.UserFieldRecLen), 0);
    info.TagAddMax = QX_TAGADD_MAX;
    db.attach();

    for (int j = 1; j <= QX_N_TAG; ++j) {
        Tags& t = db.tags[static_cast<std::size_t>(j)];
        std::memset(&t, 0, sizeof t);
        std::snprintf(t.Bez, sizeof t.Bez, "Messstelle %04d Vorlauf", j);
        t.Fkt = j <= 200 ? QX_FKT_SUM : 3 + j % 50;
        t.Status = static_cast<uint32_t>(j * 7919u);
        t.Ist = j * 1.25 + 0.001;
        t.Dba = -j * 0.5;
        t.Dbe = j * 100.0 / 3.0;
        t.Anz = j % 180;
        t.Summe = j * 17.123456789;
        t.Mittel = j % 3 == 0 ? GetNan() : j / 7.0;
        for (int i = 0; i < 4; ++i) t.Arch[i] = static_cast<uint8_t>((j + i) % 3 == 0 ? 254 : (j + i) % 2);
        t.Nach = j - 2048;
        for (int i = 0; i < 5; ++i) t.Zeiger[i] = (j * (i + 3)) % 4097 - 5;
        t.HByte[0] = static_cast<uint8_t>(j);
        t.HByte[1] = static_cast<uint8_t>(j >> 8);
        for (int i = 0; i < 10; ++i) t.Hint[i] = j * 1000 + i - 500000;
        for (int i = 0; i < 10; ++i) t.Hdouble[i] = (j + i) * 0.123456789012345 - 100.0;
        std::snprintf(t.Text, sizeof t.Text, "Text der Messstelle %d mit etwas Inhalt", j);
        for (int i = 0; i < 64; ++i) t.HLog[i] = static_cast<uint8_t>((j * 31 + i * 7) & 0xFF);

        unsigned char* rec = db.user_record(j);
        std::snprintf(reinterpret_cast<char*>(rec), 48, "Kommentar zu %d, Gebaeude %d", j, j % 12);
        std::snprintf(reinterpret_cast<char*>(rec + 48), 16, "kWh");
        const int16_t klasse = static_cast<int16_t>(j % 9 + 1);
        const int32_t export_flag = 1, kanal = j * 3;
        const float faktor = 0.5f + static_cast<float>(j % 10);
        const double grenze = j * 10.5, offset = -j / 4.0;
        std::memcpy(rec + 64, &klasse, 2);
        std::memcpy(rec + 66, &export_flag, 4);
        std::memcpy(rec + 70, &kanal, 4);
        std::memcpy(rec + 74, &faktor, 4);
        std::memcpy(rec + 78, &grenze, 8);
        std::memcpy(rec + 86, &offset, 8);
    }
    for (int s = 1; s <= 200; ++s)
        for (int k = 0; k < 10; ++k)
            if (SumAddEntry(s, 201 + (s * 10 + k) % 3800, 0.5 + k) < 0) std::abort();
    if (info.TagAddCount != 2000) std::abort();
    if (QX_SaveConfig2(QX_CONFIG_NAME, fx.file.c_str(), &db.system, db.tags.data(), db.info.get()) != 0) std::abort();

    FILE* in = std::fopen(fx.file.c_str(), "r");
    char line[1024];
    while (std::fgets(line, sizeof line, in) != nullptr) fx.lines.emplace_back(line);
    std::fclose(in);
}

// The loader prints a monitor line per user field; keep the table readable.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(1);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_ = -1;
};

void BM_Load(benchmark::State& state) {
    qx::dbconfig::Database db;
    QuietStdout quiet;
    for (auto _ : state) {
        if (db.load(fixture->file.c_str()) != 0) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(db.tags.data());
    }
    state.counters["tags"] = static_cast<double>(QX_N_TAG);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_LoadReferenceBareLines(benchmark::State& state) {
    for (auto _ : state) {
        FILE* in = std::fopen(fixture->file.c_str(), "r");
        char line[512];
        std::size_t count = 0;
        while (std::fgets(line, sizeof line, in) != nullptr) ++count;
        std::fclose(in);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_LoadReferenceBareLines)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state) {
    qx::dbconfig::Database& db = fixture->db;
    db.attach();
    for (auto _ : state) {
        if (QX_SaveConfig2(QX_CONFIG_NAME, fixture->save_file.c_str(), &db.system, db.tags.data(), db.info.get()) != 0)
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_SaveReferenceBareLines(benchmark::State& state) {
    for (auto _ : state) {
        FILE* out = std::fopen(fixture->save_file.c_str(), "w");
        for (const std::string& line : fixture->lines) std::fputs(line.c_str(), out);
        std::fclose(out);
    }
}
BENCHMARK(BM_SaveReferenceBareLines)->Unit(benchmark::kMillisecond);

// Keeps the times per iteration so that the goals can be stated after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
            const double n = static_cast<double>(run.iterations);
            cpu[run.benchmark_name()] = run.cpu_accumulated_time / n;
            real[run.benchmark_name()] = run.real_accumulated_time / n;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> cpu, real;
};

void print_ratio(RatioReporter& r, const char* what, const char* ours, const char* reference, double goal) {
    if (r.cpu[ours] <= 0 || r.cpu[reference] <= 0) return;
    const double cpu_ratio = r.cpu[ours] / r.cpu[reference];
    const double real_ratio = r.real[ours] / r.real[reference];
    std::printf("%s / bare line loop: %.2f CPU time, %.2f wall time (goal <= %.0f): %s\n", what, cpu_ratio, real_ratio,
                goal, cpu_ratio <= goal ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Fixture fx;
    build_fixture(fx);
    fixture = &fx;
    std::printf("file: %zu lines, %ld bytes\n", fx.lines.size(), [&] {
        long bytes = 0;
        for (const std::string& l : fx.lines) bytes += static_cast<long>(l.size());
        return bytes;
    }());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_ratio(reporter, "load", "BM_Load", "BM_LoadReferenceBareLines", kLoadGoal);
    print_ratio(reporter, "save", "BM_Save", "BM_SaveReferenceBareLines", kSaveGoal);
    std::remove(fx.file.c_str());
    std::remove(fx.save_file.c_str());
    rmdir(fx.dir.c_str());
    benchmark::Shutdown();
    return 0;
}
