#include "monitor/TMonitorUpdate.h"

namespace quelvo {

void TMonitorUpdate::IniciarVerificacao(TConsultasParam& param) {
    (void)param;
}

void TMonitorUpdate::OfferUpdate() {}

}  // namespace quelvo
