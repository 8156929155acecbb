#pragma once
// The numbers the status readout shows for a decoded status report: the output frequencies
// and the two internal ones, computed as the window computes them.

#include <optional>

#include "status/status_report.h"

namespace quarvel {

struct ReadoutNumbers {
    double out1Hz = 0;
    std::optional<double> out2Hz;  // output 1 * NC1_LS / NC2_LS, NC2_LS made even; empty
                                   // when NC2_LS is below 1
    double f3Hz = 0;               // floor(GPS / N31)
    double foscGHz = 0;            // cut down to 100 kHz, as the Fosc caption shows it
};

ReadoutNumbers readoutNumbers(const DeviceStatus& status);

}  // namespace quarvel
