#pragma once

#include "common/ProfileFile.h"

namespace quelvo {

// The query settings of the monitoring, in section "Config" of "Config.dat"; a cycle reads them
// once, at its start.

// The query mode, key "ConsultaSequencial" (a boolean, true when missing): true reads each
// company's documents in order, up to 50 per query, from where the last answer left off
// (distNSU), and rests an hour once everything is read; false asks for one document per query,
// from the newest down (consNSU), at most 19 an hour. The sequential mode is the default: the
// one-NSU walk cannot keep up with a company that receives more than about 19 invoices an hour.
bool LerConsultaSequencial(const TProfileFile& config);
// Writes the key ("1" or "0"); raises EProfileWriteError when the file cannot be written.
void GravarConsultaSequencial(TProfileFile& config, bool sequencial);

// How many companies' turns a cycle runs at the same time, key "ConsultasSimultaneas": 1 to 32,
// 8 when missing or not a number; a number outside is brought to the nearest end.
inline constexpr int kConsultasSimultaneasPadrao = 8;
inline constexpr int kConsultasSimultaneasMaximo = 32;
int LerConsultasSimultaneas(const TProfileFile& config);
void GravarConsultasSimultaneas(TProfileFile& config, int simultaneas);

}  // namespace quelvo
