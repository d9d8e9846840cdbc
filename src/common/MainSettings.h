#pragma once

#include <array>
#include <string_view>

#include "common/ProfileFile.h"

namespace quelvo {

// The main window's nine "Config" values: the hidden autostart entry, "Mostrar Notificação" and
// the seven interval entries, which form a radio group (at most one is checked).
struct TMainSettings {
    // The interval entries of "Verificar notas a cada", in menu order: their keys and captions.
    // The minutes come from the caption.
    static constexpr std::array<const char*, 7> kIntervalKeys = {
        "N5Minutos1",  "N10Minutos1", "N15Minutos1", "N20Minutos1",
        "N25Minutos1", "N30Minutos1", "N60Minutos1"};
    static constexpr std::array<const char*, 7> kIntervalCaptions = {
        "5 Minutos",  "10 Minutos", "15 Minutos", "20 Minutos",
        "25 Minutos", "30 Minutos", "60 Minutos"};

    bool IniciarJuntoComoWindows = true;
    bool CheckMostrarNotificacao = false;
    int IntervaloMarcado = 5;  // index of the checked entry, -1 when none is

    // Minutes of the checked entry's caption; 5 when none is checked.
    int IntervalMinutes() const;

    // Reads the nine keys in the window's order, applying the radio-group rule: the "5 Minutos"
    // entry starts checked; each stored true checks its entry (unchecking the others), each
    // stored false unchecks only its own.
    static TMainSettings Read(const TProfileFile& file);
    // Writes all nine keys, in the same order.
    void Write(TProfileFile& file) const;
};

// The minutes an interval entry stands for: the number its caption's digits form, or 5 when
// they form none.
int MinutosDaLegenda(std::string_view caption);

}  // namespace quelvo
