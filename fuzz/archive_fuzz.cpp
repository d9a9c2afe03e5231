// Opening, reading and writing an archive file of arbitrary content: the
// file is refused or read within its bounds, never crashes or overruns.
// The input is the whole day file; a copy of it also goes through the
// archive-write message decoder.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "archive_message.hpp"
#include "qx.h"

namespace {

std::string g_dir;
std::string g_day_file;
double g_day = 0;

void WriteInput(const uint8_t* data, size_t size) {
    const int fd = open(g_day_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
        const ssize_t w = write(fd, data + done, size - done);
        if (w <= 0) std::abort();
        done += size_t(w);
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Below TMPDIR when set: the fuzzer ends without cleaning up, so the
    // test command gives it a directory of its own and removes that.
    std::string pattern = (std::filesystem::temp_directory_path() / "qx-archive-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    g_dir = pattern;
    g_day_file = g_dir + "/20240315.DATA";
    time_velmo tv{2024, 3, 15, 0, 0, 0};
    g_day = TimeToJul(tv);
    // Monitor lines of refused files would flood the fuzzer's output.
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qx::archive::StepView step;
    if (size > 8) {
        long type = data[0] % 6;
        qx::archive::decode_step(type, {data + 8, size - 8}, step);
    }

    WriteInput(data, size);
    VelmoSystem sys{};
    // Slot length from the file's own header where it is plausible, so valid
    // geometries other than 900 s get read too.
    int32_t inter = 900;
    if (size >= 16) std::memcpy(&inter, data + 12, sizeof inter);
    sys.inter = inter >= 60 && inter <= 86400 ? inter : 900;
    sys.stoer_takt = 60;
    std::snprintf(sys.dir_archiv, sizeof sys.dir_archiv, "%s", g_dir.c_str());

    const int32_t tags[] = {1, 2, 3, 5, 100, -1};
    double* values = nullptr;
    int32_t rows = 0;
    ReadArchivUTC(g_day, g_day + 0.999, &sys, nullptr, 6, tags, &rows, &values);
    std::free(values);
    values = nullptr;

    QXDB tag_major{};
    MakeReadArchivName2(&tag_major, 1, ".DATA", &sys, g_day);
    ReadArchivSortTags(&tag_major, g_day, g_day + 0.5, &sys, nullptr, 6, tags, &rows, &values);
    std::free(values);

    // Writing into existing tags only: positions come from the checked index.
    QXDB writer{};
    MakeReadArchivName2(&writer, 1, ".DATA", &sys, g_day);
    const double step_values[] = {1, 2, 3, 5, 100, -1};
    WriteArchivSortTime(&writer, g_day + 0.5, 1, 6, tags, step_values, nullptr);
    if (writer.fd > 0) close(writer.fd);
    std::free(writer.Header);
    std::free(writer.Index);
    return 0;
}
