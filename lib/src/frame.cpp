// The program frame: run control, module information, the event file, the
// cycle and archive locks and the memory functions.
#include "frame.hpp"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "attach_state.hpp"
#include "fixed_path.hpp"
#include "qx/frame.h"

namespace {

constexpr const char* kWorkingDir = "/home/kwz";
constexpr const char* kInstanceName = "ra_vuvuvizi";

// Module information block: name and description, each NUL-terminated.
struct ModulInfo {
    char name[QX_MODUL_NAME_MAX + 1];
    char description[QX_MODUL_DESC_MAX + 1];
};
ModulInfo g_modul_info{};

// Written into every event line; nothing sets it.
char g_event_source[200] = {};

// Recursive from the start, so that locking before (or without) CreateMutex
// and calling CreateMutex twice are both safe.
pthread_mutex_t g_archiv_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

void copy_cut(char* destination, std::size_t capacity, const char* text) {
    std::memset(destination, 0, capacity);
    if (text != nullptr) std::memcpy(destination, text, strnlen(text, capacity - 1));
}

const char* severity_text(uint32_t event_number) {
    switch (event_number >> 30) {
        case 3: return "error       ";
        case 2: return "warning     ";
        case 1: return "information ";
        default: return "---         ";
    }
}

}  // namespace

namespace qx {

std::string_view module_name() { return g_modul_info.name; }
std::string_view module_description() { return g_modul_info.description; }

}  // namespace qx

extern "C" {

int32_t ServiceActive = 1;

int32_t GetStopVelmo(void) {
    const Info* info = qx::attach_state().info;
    return info != nullptr ? info->Stop : -1;
}

char* GetVelmoName(void) {
    Info* info = qx::attach_state().info;
    return info != nullptr ? info->VelmoName : nullptr;
}

int GetVelmo98WorkingDir(char* directory) {
    if (directory != nullptr) std::strcpy(directory, kWorkingDir);
    return 0;
}

int GetVelmo98WorkingDirEx(char* name, char* directory) {
    if (name != nullptr) std::strcpy(name, kInstanceName);
    if (directory != nullptr) std::strcpy(directory, kWorkingDir);
    return 0;
}

int SetModulInfo(const char* name, const char* description) {
    copy_cut(g_modul_info.name, sizeof g_modul_info.name, name);
    copy_cut(g_modul_info.description, sizeof g_modul_info.description, description);
    return 0;
}

int SetMoniFileNames(const char* /*file1*/, const char* /*file2*/) {
    return 0;
}

int VelmoRegisterEventSource(void) {
    return 1;
}

int VelmoWriteEvent(uint32_t eventNumber, const char* text) {
    const char* name = GetVelmoName();
    if (name == nullptr) return 0;  // no instance name before an attach, so no file
    const std::string_view instance(name, strnlen(name, sizeof(Info::VelmoName)));
    const std::string file = qx::fixed_path(std::string(kWorkingDir) + "/" + std::string(instance) + ".log");

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::FILE* out = std::fopen(file.c_str(), "a");
    if (out == nullptr) return 0;
    std::fprintf(out, "%2.2d.%2.2d.%4.4d %2.2d:%2.2d:%2.2d %s\t%s\t---\t%d\t---\t%s\n", local.tm_mday,
                 local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, g_event_source,
                 severity_text(eventNumber), static_cast<int>(eventNumber & QX_EVENT_NUMBER_MASK),
                 text != nullptr ? text : "");
    std::fclose(out);
    return 0;
}

int32_t GetAndWaitTaktMutex(void) {
    return 1;
}

void ReleaseTaktMutex(int32_t /*handle*/) {}

int CreateMutex(void) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    return pthread_mutexattr_destroy(&attributes);
}

int32_t GetAndWaitArchivMutex(void) {
    pthread_mutex_lock(&g_archiv_mutex);
    return 1;
}

void ReleaseArchivMutex(int32_t* handle) {
    // A recursive mutex refuses (EPERM) an unlock by a thread not holding it.
    pthread_mutex_unlock(&g_archiv_mutex);
    if (handle != nullptr) *handle = -1;
}

void* AllocLib98Mem(size_t size) {
    return std::malloc(size);
}

int FreeLib98Mem(void** memory) {
    if (memory != nullptr && *memory != nullptr) {
        std::free(*memory);
        *memory = nullptr;
    }
    return 0;
}

}  // extern "C"
