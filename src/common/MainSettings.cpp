#include "common/MainSettings.h"

namespace quelvo {

namespace {
constexpr const char* kSection = "Config";
constexpr bool kIntervalDefault(size_t i) {
    return TMainSettings::kMinutes[i] == 30;
}
}  // namespace

int TMainSettings::IntervalMinutes() const {
    return IntervaloMarcado < 0 ? 5 : kMinutes[static_cast<size_t>(IntervaloMarcado)];
}

TMainSettings TMainSettings::Read(const TProfileFile& file) {
    TMainSettings s;
    s.IniciarJuntoComoWindows = file.ReadBool(kSection, "IniciarJuntoComoWindows", true);
    s.CheckMostrarNotificacao = file.ReadBool(kSection, "CheckMostrarNotificacao", false);
    s.IntervaloMarcado = 0;
    for (size_t i = 0; i < kIntervalKeys.size(); ++i) {
        const bool checked = file.ReadBool(kSection, kIntervalKeys[i], kIntervalDefault(i));
        if (checked) {
            s.IntervaloMarcado = static_cast<int>(i);
        } else if (s.IntervaloMarcado == static_cast<int>(i)) {
            s.IntervaloMarcado = -1;
        }
    }
    return s;
}

void TMainSettings::Write(TProfileFile& file) const {
    file.WriteBool(kSection, "IniciarJuntoComoWindows", IniciarJuntoComoWindows);
    file.WriteBool(kSection, "CheckMostrarNotificacao", CheckMostrarNotificacao);
    for (size_t i = 0; i < kIntervalKeys.size(); ++i) {
        file.WriteBool(kSection, kIntervalKeys[i], IntervaloMarcado == static_cast<int>(i));
    }
}

}  // namespace quelvo
