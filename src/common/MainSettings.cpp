#include "common/MainSettings.h"

#include <charconv>
#include <string>

#include "common/Utils.h"

namespace quelvo {

namespace {
constexpr const char* kSection = "Config";
// "30 Minutos" is the entry checked when the file says nothing.
constexpr size_t kIntervalDefault = 5;
}  // namespace

int MinutosDaLegenda(std::string_view caption) {
    const std::string digits = OnlyDigits(caption);
    int minutes = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), minutes);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size()) {
        return 5;
    }
    return minutes;
}

int TMainSettings::IntervalMinutes() const {
    if (IntervaloMarcado < 0 || IntervaloMarcado >= static_cast<int>(kIntervalCaptions.size())) {
        return 5;
    }
    return MinutosDaLegenda(kIntervalCaptions[static_cast<size_t>(IntervaloMarcado)]);
}

TMainSettings TMainSettings::Read(const TProfileFile& file) {
    TMainSettings s;
    s.IniciarJuntoComoWindows = file.ReadBool(kSection, "IniciarJuntoComoWindows", true);
    s.CheckMostrarNotificacao = file.ReadBool(kSection, "CheckMostrarNotificacao", false);
    s.IntervaloMarcado = 0;
    for (size_t i = 0; i < kIntervalKeys.size(); ++i) {
        const bool checked = file.ReadBool(kSection, kIntervalKeys[i], i == kIntervalDefault);
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
