#pragma once

#include <array>

#include "common/ProfileFile.h"

namespace quelvo {

// The main window's nine "Config" values: the hidden autostart entry, "Mostrar Notificação" and
// the seven interval entries, which form a radio group (at most one is checked).
struct TMainSettings {
    static constexpr std::array<int, 7> kMinutes = {5, 10, 15, 20, 25, 30, 60};
    static constexpr std::array<const char*, 7> kIntervalKeys = {
        "N5Minutos1",  "N10Minutos1", "N15Minutos1", "N20Minutos1",
        "N25Minutos1", "N30Minutos1", "N60Minutos1"};

    bool IniciarJuntoComoWindows = true;
    bool CheckMostrarNotificacao = false;
    int IntervaloMarcado = 5;  // index into kMinutes of the checked entry, -1 when none is

    // Minutes of the checked entry; 5 when none is checked.
    int IntervalMinutes() const;

    // Reads the nine keys in the window's order, applying the radio-group rule: the "5 Minutos"
    // entry starts checked; each stored true checks its entry (unchecking the others), each
    // stored false unchecks only its own.
    static TMainSettings Read(const TProfileFile& file);
    // Writes all nine keys, in the same order.
    void Write(TProfileFile& file) const;
};

}  // namespace quelvo
