// Process-wide values of the application.
#pragma once

#include <windows.h>

#include <cstdint>

// The module instance handle; written once, first thing in wWinMain.
extern HINSTANCE AppInstance;

// The outcomes of a run, in the numbers the usage report sends.
namespace Outcome {
constexpr int32_t None = 0;                   // nothing was tried: no report at exit
constexpr int32_t Started = 1;                // a repair is under way, or a notice came instead
constexpr int32_t FolderRejected = 2;         // the folder has no Cross in it
constexpr int32_t ConfigDownloadFailed = 3;
constexpr int32_t ConfigInvalid = 4;          // neither a package nor a notice, or a process entry missing
constexpr int32_t ProgramStillRunning = 5;    // the player gave up while a listed program ran
constexpr int32_t PackageDownloadFailed = 6;
constexpr int32_t ExtractionFailed = 7;       // a damaged or unsigned package, or a file not written
constexpr int32_t Repaired = 8;
}  // namespace Outcome

// Outcome of the most recent repair step, reported at exit.
// Written and read on the UI thread only.
extern int32_t StatusCode;
