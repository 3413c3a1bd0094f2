#pragma once

namespace packmeter {

// Starts the fault logger for the running program: from then on every fault and every C++
// exception that escapes a thread is reported and the process ends with exit code 1. Does
// nothing and returns false when the program file carries no logger data block, which is the
// case for every build that has not been through the instrumenting step. Call it first thing
// in main(); later calls return the first one's result.
bool InstallFaultLogger(bool windowedProgram = false);

// For the catch block of an event loop (the Qt application's notify, the Win32 window
// framework's dispatch): reports the exception being handled, and the program goes on. True
// when the logger did not handle it (inactive, or the filter names it), so that the caller
// shows its own message.
bool FaultLogExceptionManager();

}  // namespace packmeter

#include "core/exceptlog/report_text.hpp"

namespace packmeter {

// The report values that describe the program and the system: Name/Description, Version
// Number, the Computer section and the Operating System section.
void FillSystemReportValues(TFaultReportValues& values);

}  // namespace packmeter
