#pragma once

#include "monitor/TConsultasParam.h"

namespace quelvo {

// The program's self-update, as the desktop program calls it: a check in the background (at the
// monitoring start and every four hours) and, once per start, the offer to install a downloaded
// version. This version of the program checks nothing and offers nothing yet.
class TMonitorUpdate {
public:
    // Starts one update check with the shared state's proxy.
    static void IniciarVerificacao(TConsultasParam& param);
    // Offers a downloaded update, once per start.
    static void OfferUpdate();
};

}  // namespace quelvo
