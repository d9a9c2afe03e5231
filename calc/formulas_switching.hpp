// Switching, timing and actuator formulas: the parts other code and the tests
// reach besides the dispatch list.
#pragma once

#include <cstdint>

// The local second of the day (operating system zone) rounded to the nearest
// multiple of n, halves up; 0 for n = 0.  Reads the clock anew at every call.
int SekHeute(int n);

namespace calc {

// What formulas 36 and 504 hand to the outside world: their fixed command
// texts go to the shell, formula 36's outcome to the event file.  Tests put
// recorders here so that no real command runs.
struct SwitchingCommands {
    int (*run_shell)(const char* command);                   // std::system
    int (*write_event)(uint32_t event_number, const char* text);  // VelmoWriteEvent
};

SwitchingCommands& switching_commands();
// Puts the real shell and event file back.
void ResetSwitchingCommands();

// The command texts and event numbers of formulas 36 and 504.
inline constexpr const char* kRestartCommandFormat = "start %s\\Neustart.exe";
inline constexpr const char* kListingCommand = "start dir c:\\velmont\\*.*";
inline constexpr uint32_t kRestartEventInfo = 0x61000001u;
inline constexpr uint32_t kRestartEventError = 0xE100000Au;

}  // namespace calc
