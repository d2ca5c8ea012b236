#pragma once

#include <cstdio>
#include <vector>

#include "simconnect/flight_data.h"

namespace velmar::bench {

// A realistic mix of samples: a flight from the ground roll through climb,
// turns and cruise to the descent, with the identities samples carry before
// and after the aircraft is known. Deterministic.
std::vector<FlightData> sample_mix();

// Prints the cost of the JSON text alone, in nanoseconds per sample.
void json_text_figures(FILE* report);

}  // namespace velmar::bench
