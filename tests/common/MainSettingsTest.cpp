#include "common/MainSettings.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

TEST(MainSettings, ReadAppliesTheRadioGroupRule) {
    struct Case {
        const char* what;
        const char* file;  // null: no file at all
        int minutes;
        int checked;
        bool autostart;
        bool notify;
    };
    const Case cases[] = {
        {"no file", nullptr, 30, 5, true, false},
        {"all seven zero: none checked, 5 minutes",
         "[Config]\r\nN5Minutos1=0\r\nN10Minutos1=0\r\nN15Minutos1=0\r\nN20Minutos1=0\r\n"
         "N25Minutos1=0\r\nN30Minutos1=0\r\nN60Minutos1=0\r\n",
         5, -1, true, false},
        {"10 set, 30 missing: 30 reads its default after 10", "[Config]\r\nN10Minutos1=1\r\n", 30,
         5, true, false},
        {"15 and 60 set: the last wins",
         "[Config]\r\nN15Minutos1=1\r\nN30Minutos1=0\r\nN60Minutos1=1\r\n", 60, 6, true, false},
        {"5 set as hexadecimal", "[Config]\r\nN5Minutos1=0x1\r\nN30Minutos1=0\r\n", 5, 0, true,
         false},
        {"5 set with a dollar", "[Config]\r\nN5Minutos1=$1\r\nN30Minutos1=0\r\n", 5, 0, true,
         false},
        {"5 as a word reads false", "[Config]\r\nN5Minutos1=sim\r\nN30Minutos1=0\r\n", 5, -1, true,
         false},
        {"names in any case", "[config]\r\nn20minutos1=1\r\nN30MINUTOS1=0\r\n", 20, 3, true, false},
        {"flags", "[Config]\r\nIniciarJuntoComoWindows=0\r\nCheckMostrarNotificacao=1\r\n", 30, 5,
         false, true},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = c.file ? dir.Write("Config.dat", c.file) : dir.File("Config.dat");
        const auto s = TMainSettings::Read(TProfileFile(path));
        EXPECT_EQ(s.IntervalMinutes(), c.minutes) << c.what;
        EXPECT_EQ(s.IntervaloMarcado, c.checked) << c.what;
        EXPECT_EQ(s.IniciarJuntoComoWindows, c.autostart) << c.what;
        EXPECT_EQ(s.CheckMostrarNotificacao, c.notify) << c.what;
    }
}

TEST(MainSettings, WriteStoresAllNineKeysInOrder) {
    TempDir dir;
    TProfileFile ini(dir.File("Config.dat"));
    ini.WriteString("Config", "Usuario", "ana");
    TMainSettings s;
    s.CheckMostrarNotificacao = true;
    s.IntervaloMarcado = 1;
    s.Write(ini);
    EXPECT_EQ(dir.Read("Config.dat"),
              "[Config]\r\nUsuario=ana\r\nIniciarJuntoComoWindows=1\r\n"
              "CheckMostrarNotificacao=1\r\nN5Minutos1=0\r\nN10Minutos1=1\r\nN15Minutos1=0\r\n"
              "N20Minutos1=0\r\nN25Minutos1=0\r\nN30Minutos1=0\r\nN60Minutos1=0\r\n");
    const auto back = TMainSettings::Read(ini);
    EXPECT_EQ(back.IntervalMinutes(), 10);
    EXPECT_TRUE(back.CheckMostrarNotificacao);

    s.IntervaloMarcado = -1;  // none checked: every interval key is written as 0
    s.Write(ini);
    EXPECT_EQ(TMainSettings::Read(ini).IntervaloMarcado, -1);
}

TEST(MainSettings, MinutesComeFromTheCaption) {
    const struct {
        const char* caption;
        int minutes;
    } cases[] = {
        {"60 Minutos", 60}, {"5 Minutos", 5}, {"1 5 Minutos", 15},
        {"Minutos", 5},     {"", 5},          {"99999999999 Minutos", 5},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MinutosDaLegenda(c.caption), c.minutes) << c.caption;
    }
}

}  // namespace
}  // namespace quelvo
