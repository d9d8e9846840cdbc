// Start-up, close and exit of the desktop program.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

#include "shell/ShellWorld.h"
#include "shell/TF_Usuario.h"

namespace quelvo {
namespace {

using test::Esperar;
using test::NoProximoModal;
using test::ShellWorld;

const std::string kNoveChaves =
    "IniciarJuntoComoWindows=1\r\nCheckMostrarNotificacao=0\r\nN5Minutos1=0\r\nN10Minutos1=0\r\n"
    "N15Minutos1=0\r\nN20Minutos1=0\r\nN25Minutos1=0\r\nN30Minutos1=1\r\nN60Minutos1=0\r\n";

// What the close handler wrote, looked at the moment the program is told to end.
struct Gravados {
    bool config = false, empresas = false, consultados = false, nums = false;
};

Gravados Olhar(const ShellWorld& w) {
    return {w.dir.Read("Config.dat").find(kNoveChaves) != std::string::npos,
            std::filesystem::exists(w.dir.File("Empresas2.dat")),
            std::filesystem::exists(w.dir.File("Consultados.dat")),
            std::filesystem::exists(w.dir.File("ConsultadosNums.dat"))};
}

TEST(Startup, FirstStartWithoutFilesEndsAfterTheLoginIsGivenUp) {
    ShellWorld w;
    // No user stored: no request, the login dialog opens; the user closes it.
    bool dialogo = false;
    std::chrono::steady_clock::time_point fechado;
    NoProximoModal("F_Usuario", [&](QWidget* d) {
        dialogo = true;
        fechado = std::chrono::steady_clock::now();
        d->close();
    });
    Gravados gravados;
    std::chrono::steady_clock::time_point terminouEm;
    auto& p = w.Iniciar({}, [&] {
        F_Principal->Terminar = [&] {
            terminouEm = std::chrono::steady_clock::now();
            gravados = Olhar(w);
            ++w.terminou;
        };
    });
    EXPECT_TRUE(dialogo);
    EXPECT_EQ(w.Logins(), 0);
    EXPECT_TRUE(w.Caixas().empty());
    // The defaults of a missing settings file.
    EXPECT_EQ(w.Achar<QLabel>(&p, "Label6")->text().toStdString(),
              "Empresas que o sistema irá verificar a cada 30 minutos");
    EXPECT_TRUE(w.Achar<QAction>(&p, "N30Minutos1")->isChecked());
    EXPECT_TRUE(w.Achar<QAction>(&p, "IniciarJuntoComoWindows1")->isChecked());
    EXPECT_FALSE(w.Achar<QAction>(&p, "IniciarJuntoComoWindows1")->isVisible());
    EXPECT_FALSE(p.CheckMostrarNotificacao()->isChecked());
    EXPECT_FALSE(p.CheckAtivado()->isChecked());
    EXPECT_TRUE(std::filesystem::is_directory(w.dir.File("temp")));

    // About 100 ms later (its one-shot timer, which may come a little early) the program ends,
    // its files written first.
    ASSERT_TRUE(Esperar([&] { return w.terminou == 1; }));
    EXPECT_GE(terminouEm - fechado, std::chrono::milliseconds(50));
    EXPECT_TRUE(gravados.config && gravados.empresas && gravados.consultados && gravados.nums);
    EXPECT_EQ(w.dir.Read("Config.dat"), "[Config]\r\nUsuario=\r\nSenha=\r\n" + kNoveChaves);
    EXPECT_EQ(w.dir.Read("Consultados.dat"), "");
}

TEST(Startup, ARefusedStoredLoginShowsTheReasonAndEnds) {
    ShellWorld w;
    w.Credenciais(ShellWorld::kUsuario, "errada");
    w.Registradas({w.a});
    NoProximoModal("F_Usuario", [](QWidget* d) { d->close(); });
    auto& p = w.Iniciar();
    // The start-up login, then the closing login of the dialog.
    EXPECT_EQ(w.Logins(), 2);
    const auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 2u);
    EXPECT_EQ(caixas[0].kind, "info");
    EXPECT_EQ(caixas[0].text, "Usuário ou senha inválidos.");
    // The registry is loaded and listed even so; no cycle starts before the end.
    EXPECT_EQ(w.Achar<QTreeWidget>(&p, "ListViewEmpresas")->topLevelItemCount(), 1);
    ASSERT_TRUE(Esperar([&] { return w.terminou == 1; }, std::chrono::seconds(3)));
    EXPECT_NE(w.dir.Read("Empresas2.dat").find(w.a.serial), std::string::npos);
}

TEST(Startup, CloseHidesAndSavesExitEntriesEnd) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a});
    auto& p = w.Iniciar();
    ASSERT_TRUE(p.CheckAtivado()->isChecked());
    EXPECT_EQ(w.Logins(), 1);
    ASSERT_TRUE(Esperar([&] { return !w.service.Queries().empty(); }));  // the first cycle

    // The close button and Esc only put the window away (offscreen there is no tray, so it is
    // minimised) and write the files each time.
    for (int vez = 0; vez < 2; ++vez) {
        std::filesystem::remove(w.dir.File("Config.dat"));
        std::filesystem::remove(w.dir.File("Consultados.dat"));
        if (vez == 0) {
            p.close();
        } else {
            p.showNormal();
            p.activateWindow();
            QTest::keyClick(&p, Qt::Key_Escape);
        }
        QApplication::processEvents();
        EXPECT_TRUE(p.isMinimized() || p.isHidden()) << vez;
        EXPECT_TRUE(Olhar(w).config) << vez;
        EXPECT_TRUE(Olhar(w).consultados) << vez;
        EXPECT_EQ(w.terminou, 0);
    }
    // The tray icon brings it back without a new login.
    p.TrayIcon1Click();
    EXPECT_TRUE(p.isVisible() && !p.isMinimized());
    EXPECT_EQ(w.Logins(), 1);

    // "Finalizar Aplicação": the same files, then the end.
    std::filesystem::remove(w.dir.File("Empresas2.dat"));
    Gravados gravados;
    p.Terminar = [&] {
        gravados = Olhar(w);
        ++w.terminou;
    };
    w.Achar<QAction>(&p, "FinalizarAplicao1")->trigger();
    EXPECT_EQ(w.terminou, 1);
    EXPECT_TRUE(gravados.config && gravados.empresas && gravados.consultados && gravados.nums);
    EXPECT_NE(w.dir.Read("Empresas2.dat").find(w.a.serial), std::string::npos);
}

TEST(Startup, TrayMenuExitAndAFailedSave) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    auto* menu = w.Achar<QMenu>(&p, "PopupMenu1");
    auto* finalizar = w.Achar<QAction>(menu, "FinalizarAplicativo1");
    EXPECT_EQ(finalizar->text().toStdString(), "Finalizar Aplicativo");

    // A file that cannot be written: the error box, and the close request has no effect at all.
    std::filesystem::create_directory(w.dir.File("Consultados.dat"));
    finalizar->trigger();
    const auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 1u);
    EXPECT_EQ(caixas[0].kind, "error");
    EXPECT_EQ(w.terminou, 0);
    EXPECT_TRUE(p.isVisible() && !p.isMinimized());

    std::filesystem::remove(w.dir.File("Consultados.dat"));
    finalizar->trigger();
    EXPECT_EQ(w.terminou, 1);
}

TEST(Startup, MinimizadoOnlyAsTheFirstArgument) {
    for (const auto& [argumentos, esconde] :
         std::vector<std::pair<QStringList, bool>>{{{"MINIMIZADO"}, true},
                                                   {{"minimizado"}, true},
                                                   {{"outro", "minimizado"}, false},
                                                   {{}, false}}) {
        ShellWorld w;
        w.Credenciais();
        auto& p = w.Iniciar(argumentos);
        QTest::qWait(60);
        EXPECT_EQ(p.isMinimized() || p.isHidden(), esconde) << argumentos.join(' ').toStdString();
        // The whole start-up ran before it went away.
        EXPECT_TRUE(p.CheckAtivado()->isChecked());
    }
}

TEST(Startup, LogoFromTheFolderOrTheBuiltInOne) {
    ShellWorld w;
    w.Credenciais();
    QImage figura(100, 40, QImage::Format_ARGB32);
    figura.fill(Qt::red);
    figura.save(QString::fromStdString(w.dir.File("logo.png")));
    auto& p = w.Iniciar();
    auto* logo = w.Achar<QLabel>(&p, "ImgLogo");
    EXPECT_EQ(logo->size(), QSize(100, 40));
    EXPECT_EQ(w.Achar<QLabel>(&p, "Label4")->x(), 8 + 100 + 6);
    EXPECT_EQ(w.Achar<QWidget>(&p, "Shape2")->x(), 114);
    EXPECT_EQ(w.Achar<QWidget>(&p, "Shape2")->width(),
              w.Achar<QWidget>(&p, "Shape1")->width() - 114 - 12);

    // A file that is no picture keeps the built-in logo.
    ShellWorld v;
    v.Credenciais();
    v.dir.Write("logo.png", "isto não é uma figura");
    auto& q = v.Iniciar();
    EXPECT_EQ(v.Achar<QLabel>(&q, "ImgLogo")->size(), QSize(48, 48));
    EXPECT_FALSE(v.Achar<QLabel>(&q, "ImgLogo")->pixmap().isNull());
    EXPECT_EQ(v.Achar<QLabel>(&q, "Label4")->x(), 62);
}

}  // namespace
}  // namespace quelvo
