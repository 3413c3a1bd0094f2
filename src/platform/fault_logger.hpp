#pragma once

#include "core/exceptlog/fault_capture.hpp"

namespace packmeter {

// Starts the fault logger for the running program: from then on every fault and every C++
// exception that escapes a thread is reported and the process ends with exit code 1. Does
// nothing and returns false when the program file carries no logger data block, which is the
// case for every build that has not been through the instrumenting step. Call it first thing
// in main(); later calls return the first one's result.
bool InstallFaultLogger(bool windowedProgram = false);

}  // namespace packmeter

#include "core/exceptlog/report_text.hpp"

namespace packmeter {

// The report values that describe the program and the system: Name/Description, Version
// Number, the Computer section and the Operating System section.
void FillSystemReportValues(FaultReportValues& values);

}  // namespace packmeter
