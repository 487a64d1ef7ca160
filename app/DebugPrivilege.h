#pragma once

// Enables SeDebugPrivilege for the process, so the running-process check can
// see into more processes. Every failure is silent.
void EnableDebugPrivilege();
