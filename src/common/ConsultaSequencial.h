#pragma once

#include "common/ProfileFile.h"

namespace quelvo {

// The query mode of the monitoring, key "ConsultaSequencial" of section "Config" of "Config.dat"
// (a boolean, false when missing): false asks the national service for one document per query,
// from the newest down (consNSU); true reads each company's documents in order, up to 50 per
// query, from where the last answer left off (distNSU). The worker reads it at every company's
// turn, so a change takes effect from the next turn on.
bool LerConsultaSequencial(const TProfileFile& config);
// Writes the key ("1" or "0"); raises EProfileWriteError when the file cannot be written.
void GravarConsultaSequencial(TProfileFile& config, bool sequencial);

}  // namespace quelvo
