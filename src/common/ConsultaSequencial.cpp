#include "common/ConsultaSequencial.h"

namespace quelvo {

namespace {
constexpr const char* kSecao = "Config";
constexpr const char* kChave = "ConsultaSequencial";
}  // namespace

bool LerConsultaSequencial(const TProfileFile& config) {
    return config.ReadBool(kSecao, kChave, false);
}

void GravarConsultaSequencial(TProfileFile& config, bool sequencial) {
    config.WriteBool(kSecao, kChave, sequencial);
}

}  // namespace quelvo
