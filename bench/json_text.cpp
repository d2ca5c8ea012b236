#include "sample_mix.h"

namespace velmar::bench {

void json_text_figures(FILE* report) { std::fprintf(report, "json text: (writer not available yet)\n"); }

}  // namespace velmar::bench
