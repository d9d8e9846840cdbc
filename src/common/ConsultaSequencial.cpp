#include "common/ConsultaSequencial.h"

#include <algorithm>
#include <string>

namespace quelvo {

namespace {
constexpr const char* kSecao = "Config";
constexpr const char* kChave = "ConsultaSequencial";
constexpr const char* kSimultaneas = "ConsultasSimultaneas";
}  // namespace

bool LerConsultaSequencial(const TProfileFile& config) {
    return config.ReadBool(kSecao, kChave, true);
}

void GravarConsultaSequencial(TProfileFile& config, bool sequencial) {
    config.WriteBool(kSecao, kChave, sequencial);
}

int LerConsultasSimultaneas(const TProfileFile& config) {
    const long n = config.ReadInteger(kSecao, kSimultaneas, kConsultasSimultaneasPadrao);
    return static_cast<int>(std::clamp<long>(n, 1, kConsultasSimultaneasMaximo));
}

void GravarConsultasSimultaneas(TProfileFile& config, int simultaneas) {
    config.WriteString(kSecao, kSimultaneas,
                       std::to_string(std::clamp(simultaneas, 1, kConsultasSimultaneasMaximo)));
}

}  // namespace quelvo
