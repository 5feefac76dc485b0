// The control channel of tavrin-sim: one command line changes a device while it runs. The
// program reads them from its standard input; tests call runControl directly.
//
//   status DEV WORD...|N        the status byte of 0x09: ready, paper-out, paper-near-end,
//                               cover-open, cutter-jammed, overheated, offline, or a number
//   answer DEV CODE=status:N|text:TEXT|hex:BYTES   a fixed answer for CODE (as --answer)
//   answer DEV CODE=off         the fixed answer goes, the built-in one answers again
//   fault DEV NAME on|off       no-reply, split, bad-checksum, together
//   fault DEV NAME N            noise, redundant, delay, long-reply, pause, split-at,
//                               close-after, noise-for (0: off)
//   silent DEV on|off           the device takes commands and answers nothing (fault no-reply)
//   drop DEV                    network: the device drops its connections now
//   refuse DEV MS               network: connections are refused for MS milliseconds
//   rate DEV BYTES_PER_S        the device takes in raw data at that rate (0: no limit)
//   summary                     what each device received
//   help                        this list
//
// DEV is the device's index as the "device <index> <path>" line gives it.
#pragma once

#include <string>

#include "sim/simulator.h"

namespace tavrin::sim {

struct ControlReply {
    bool ok = false;
    std::string text;  // "ok ...", or what was wrong, or the summary / help text
};

ControlReply runControl(Simulator& simulator, const std::string& line);
const char* controlHelp();

}  // namespace tavrin::sim
