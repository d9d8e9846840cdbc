// The main window's schedule, company list, buttons, status bar and pop-up.
#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

#include "TDfeStandIn.h"
#include "common/ProfileFile.h"
#include "shell/AutoSizeColumns.h"
#include "shell/ShellWorld.h"
#include "shell/TF_Nota_Emitida.h"
#include "shell/TF_Usuario.h"
#include "support/Documentos.h"

namespace quelvo {
namespace {

using test::Chave;
using test::Esperar;
using test::NoProximoModal;
using test::SemCiclo;
using test::ShellWorld;
using Script = standin::TDfeStandIn::Script;

void Documento(ShellWorld& w, const std::string& cnpj, int nsu, const std::string& emitente) {
    standin::ResumoNFe r;
    r.chNFe = Chave(nsu + (cnpj == w.a.cnpj ? 0 : 500));
    r.cnpjEmitente = "60746948000112";
    r.xNome = emitente;
    r.ie = "110042490114";
    w.service.AddDocument(cnpj, nsu, standin::ResNFeXml(r));
}

// Keeps the next first query of a company waiting until the test releases the service, so a
// cycle runs while the test acts.
void Retido(ShellWorld& w, const std::string& cnpj) {
    w.service.ScriptQuery(cnpj, 0, Script{Script::Kind::Held, 0, "", {}});
}

std::string Painel(ShellWorld& w, int n) {
    w.app->Principal().TimerAtualizaTimer();
    return w.Achar<QLabel>(&w.app->Principal(), n == 0 ? "StatusBar1Painel0" : "StatusBar1Painel1")
        ->text()
        .toStdString();
}

// A portable copy asks the site for the current version at its start and then whenever the
// four-hour timer fires.
TEST(MainWindow, ChecksForAnUpdateAtStartAndEveryFourHours) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    const auto verificacoes = [&] {
        int n = 0;
        for (const auto& r : w.site.Requests()) {
            n += r.path == "/app/Quelvo.aspx";
        }
        return n;
    };
    ASSERT_TRUE(Esperar([&] { return verificacoes() == 1; }));
    auto* timer = w.Achar<QTimer>(&p, "TimerAtualizacao");
    EXPECT_EQ(timer->interval(), 4 * 60 * 60 * 1000);
    EXPECT_TRUE(timer->isActive());
    // Four hours later (the timer made to fire at once): the next check.
    timer->start(1);
    ASSERT_TRUE(Esperar([&] { return verificacoes() >= 2; }));
    timer->start(4 * 60 * 60 * 1000);
    ASSERT_TRUE(Esperar(SemCiclo));
}

TEST(MainWindow, TimersIntervalsAndStatusBar) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    auto* monitor = w.Achar<QTimer>(&p, "TimerMonitor");
    const struct {
        const char* nome;
        int periodo;
    } timers[] = {{"Timer1", 100},         {"TimerMonitor", 1800000},
                  {"TimerAtualiza", 1000}, {"TimerDesaparece", 10},
                  {"TimerFechar", 100},    {"TimerAtualizacao", 14400000}};
    for (const auto& t : timers) {
        EXPECT_EQ(w.Achar<QTimer>(&p, t.nome)->interval(), t.periodo) << t.nome;
    }
    ASSERT_TRUE(Esperar([&] { return monitor->isActive(); }));  // the monitoring start, Ativado on
    EXPECT_FALSE(w.Achar<QTimer>(&p, "Timer1")->isActive());
    EXPECT_TRUE(w.Achar<QTimer>(&p, "TimerAtualiza")->isActive());
    EXPECT_TRUE(w.Achar<QTimer>(&p, "TimerAtualizacao")->isActive());
    ASSERT_TRUE(Esperar(SemCiclo));
    EXPECT_EQ(Painel(w, 0), "Esperando 30 minutos ...      ");
    EXPECT_EQ(Painel(w, 1), "");

    auto* n60 = w.Achar<QAction>(&p, "N60Minutos1");
    n60->trigger();
    EXPECT_EQ(w.Achar<QLabel>(&p, "Label6")->text().toStdString(),
              "Empresas que o sistema irá verificar a cada 60 minutos");
    EXPECT_EQ(monitor->interval(), 3600000);
    EXPECT_TRUE(monitor->isActive());
    EXPECT_FALSE(w.Achar<QAction>(&p, "N30Minutos1")->isChecked());
    // Choosing the checked entry again leaves none checked: 5 minutes.
    n60->trigger();
    EXPECT_FALSE(n60->isChecked());
    EXPECT_EQ(p.Minutos(), 5);
    EXPECT_EQ(monitor->interval(), 300000);
    EXPECT_EQ(Painel(w, 0), "Esperando 5 minutos ...      ");

    // The choice reaches the file at the next close request.
    p.close();
    EXPECT_NE(w.dir.Read("Config.dat").find("N30Minutos1=0\r\nN60Minutos1=0\r\n"),
              std::string::npos);
}

TEST(MainWindow, AtivadoSwitchesTheLoginBoxesAndTheSharedSwitch) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    auto* usuario = w.Achar<QLineEdit>(F_Usuario, "EditUsuario");
    auto* confirma = w.Achar<QPushButton>(F_Usuario, "ButConfirma");
    ASSERT_TRUE(p.CheckAtivado()->isChecked());
    EXPECT_FALSE(usuario->isEnabled());
    EXPECT_FALSE(confirma->isEnabled());
    ASSERT_TRUE(Esperar([&] { return w.Achar<QTimer>(&p, "TimerMonitor")->isActive(); }));
    p.CheckAtivado()->setChecked(false);
    EXPECT_TRUE(usuario->isEnabled());
    EXPECT_TRUE(confirma->isEnabled());
    EXPECT_FALSE(p.Param().Ativo);
    // The schedule keeps running: its ticks start cycles that query nothing.
    EXPECT_TRUE(w.Achar<QTimer>(&p, "TimerMonitor")->isActive());
    p.CheckAtivado()->setChecked(true);
    EXPECT_TRUE(p.Param().Ativo);
    EXPECT_FALSE(usuario->isEnabled());
}

TEST(MainWindow, VerificarAgoraAndTheLogDuringACycle) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a});
    Documento(w, w.a.cnpj, 1, "FORNECEDOR UM");
    Retido(w, w.a.cnpj);
    auto& p = w.Iniciar();
    ASSERT_TRUE(Esperar([&] { return !w.service.Queries().empty(); }));
    EXPECT_EQ(Painel(w, 0), "Buscando 0");
    w.Achar<QPushButton>(&p, "ButVerificar")->click();
    w.service.Release();
    const auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 1u);
    EXPECT_EQ(caixas[0].text, "O sistema já está verificando.");
    ASSERT_TRUE(Esperar(SemCiclo));
    const std::string log = w.Achar<QPlainTextEdit>(&p, "MemoLogs")->toPlainText().toStdString();
    EXPECT_NE(log.find(" Verificando NFes emitidas para o CNPJ: " + w.a.cnpj), std::string::npos);
    EXPECT_NE(log.find("1 novas notas foi inseridas para o CNPJ: " + w.a.cnpj + "\n" +
                       std::string(74, '=')),
              std::string::npos)
        << log;
    auto* lista = w.Achar<QTreeWidget>(&p, "ListViewEmpresas");
    EXPECT_EQ(lista->topLevelItem(0)->text(4).toStdString(), "1 novas notas foi inseridas");

    // No cycle running: "Verificar Agora" starts one.
    const size_t antes = w.service.Queries().size();
    w.Achar<QPushButton>(&p, "ButVerificar")->click();
    EXPECT_TRUE(w.Caixas().empty());
    ASSERT_TRUE(Esperar([&] { return w.service.Queries().size() > antes && SemCiclo(); }));
}

TEST(MainWindow, UltimosTresMesesWithAndWithoutACycle) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a});
    Documento(w, w.a.cnpj, 1, "FORNECEDOR UM");
    Retido(w, w.a.cnpj);
    auto& p = w.Iniciar();
    // The cycle is inside its first query.
    ASSERT_TRUE(Esperar([&] { return !w.service.Queries().empty(); }));
    p.Param().Consultados.Add("chave-antiga");

    // During a cycle, the please-wait dialog closed by the user before the cycle ends: nothing
    // is emptied, no cycle is started, and "Ativado" stays unchecked.
    bool esperou = false;
    NoProximoModal("F_Esperando", [&](QWidget* d) {
        esperou = true;
        EXPECT_EQ(d->windowTitle().toStdString(), "Esperando");
        d->close();
    });
    w.Achar<QPushButton>(&p, "ButVerificarUltimos3Meses")->click();
    EXPECT_TRUE(esperou);
    EXPECT_FALSE(p.CheckAtivado()->isChecked());
    EXPECT_TRUE(p.Param().Consultados.Contains("chave-antiga"));
    w.service.Release();
    ASSERT_TRUE(Esperar(SemCiclo));

    // No cycle: switched on, both lists and files emptied, a new cycle (held at the service).
    p.Param().SalvarListas(w.AppDir());
    Retido(w, w.a.cnpj);
    const size_t antes = w.service.Queries().size();
    w.Achar<QPushButton>(&p, "ButVerificarUltimos3Meses")->click();
    EXPECT_TRUE(p.CheckAtivado()->isChecked());
    EXPECT_FALSE(p.Param().Consultados.Contains("chave-antiga"));
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("Consultados.dat")));
    ASSERT_TRUE(Esperar([&] { return w.service.Queries().size() > antes; }));

    // During that cycle, waiting until it stops: the dialog closes by itself once the cycle
    // ends, then everything is emptied and a cycle starts again.
    p.Param().Consultados.Add("chave-antiga");
    bool mostrou = false;
    bool fechadoPeloTeste = false;
    NoProximoModal("F_Esperando", [&](QWidget* d) {
        mostrou = true;
        w.service.Release();  // the cycle can end now
        QTimer::singleShot(30000, d, [d, &fechadoPeloTeste] {
            fechadoPeloTeste = true;  // only if it never closes itself
            d->close();
        });
    });
    w.Achar<QPushButton>(&p, "ButVerificarUltimos3Meses")->click();
    EXPECT_TRUE(mostrou);
    EXPECT_FALSE(fechadoPeloTeste);
    EXPECT_TRUE(p.CheckAtivado()->isChecked());
    EXPECT_FALSE(p.Param().Consultados.Contains("chave-antiga"));
    ASSERT_TRUE(Esperar(SemCiclo));
}

TEST(MainWindow, ApagarEmpresaAndARefreshThatKeepsRows) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a, w.b});
    auto& p = w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    auto* lista = w.Achar<QTreeWidget>(&p, "ListViewEmpresas");
    ASSERT_EQ(lista->topLevelItemCount(), 2);
    EXPECT_EQ(lista->topLevelItem(0)->text(2).toStdString(), w.a.name);

    // No focused row.
    lista->setCurrentItem(nullptr);
    w.Achar<QPushButton>(&p, "ButApagar")->click();
    auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 1u);
    EXPECT_EQ(caixas[0].text, "É necessário selecionar a empresa.");

    // The focused row, declined, then accepted.
    QTreeWidgetItem* linhaB = lista->topLevelItem(1);
    lista->setCurrentItem(lista->topLevelItem(0));
    w.Achar<QPushButton>(&p, "ButApagar")->click();
    caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 1u);
    EXPECT_EQ(caixas[0].kind, "confirm");
    EXPECT_EQ(caixas[0].text, "Deseja realmente apagar a empresa \"CNPJ:" + w.a.cnpj + " " +
                                  w.a.name + "\" selecionada ?");
    EXPECT_EQ(lista->topLevelItemCount(), 2);
    w.boxes->confirmAnswer = true;
    w.Achar<QPushButton>(&p, "ButApagar")->click();
    EXPECT_EQ(lista->topLevelItemCount(), 1);
    EXPECT_EQ(lista->topLevelItem(0), linhaB);  // the other row stays the same row
    EXPECT_EQ(w.dir.Read("Empresas2.dat").find(w.a.serial), std::string::npos);
    EXPECT_NE(w.dir.Read("Empresas2.dat").find(w.b.serial), std::string::npos);

    // A refresh keeps the selection and the focus: a company added at the end of the registry
    // gets a new last row, the selected row stays selected and focused.
    lista->setCurrentItem(linhaB);
    p.Param().Empresas.Inserir(w.a.cnpj, "RJ", w.a.name, w.a.serial, w.a.senha, "");
    p.TabCarr();
    ASSERT_EQ(lista->topLevelItemCount(), 2);
    EXPECT_EQ(lista->topLevelItem(0), linhaB);
    EXPECT_EQ(lista->currentItem(), linhaB);
    EXPECT_TRUE(linhaB->isSelected());
    EXPECT_EQ(lista->topLevelItem(1)->text(1).toStdString(), "RJ");
}

TEST(MainWindow, CompanyStatesAndPictures) {
    ShellWorld w;
    w.Credenciais();
    const auto vencida =
        w.AddCompany("VENCIDA LTDA", "60746948000112", "v", false, testpki::Validity::Expired());
    w.Registradas({w.a, vencida});
    // A third company whose certificate is not in the store.
    TConsultasEmpresas r;
    r.Carregar(w.dir.File("Empresas2.dat"));
    r.Inserir("33.000.167/0001-01", "SP", "SEM CERTIFICADO", "0BADC0DE", "x", "");
    r.Salvar(w.dir.File("Empresas2.dat"));
    auto& p = w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    auto* lista = w.Achar<QTreeWidget>(&p, "ListViewEmpresas");
    ASSERT_EQ(lista->topLevelItemCount(), 3);
    EXPECT_EQ(lista->topLevelItem(1)->text(4).toStdString(), "Certificado vencido");
    EXPECT_NE(lista->topLevelItem(2)->text(4).toStdString().find(
                  "Serial Number \"0BADC0DE\" do certificado digital não foi encontrado."),
              std::string::npos);
    // Pictures: pause for a finished company, cancel for the other two.
    const QIcon pausa = p.style()->standardIcon(QStyle::SP_MediaPause);
    const QIcon cancela = p.style()->standardIcon(QStyle::SP_DialogCancelButton);
    const auto mesma = [](const QIcon& a, const QIcon& b) {
        return a.pixmap(16).toImage() == b.pixmap(16).toImage();
    };
    EXPECT_TRUE(mesma(lista->topLevelItem(0)->icon(0), pausa));
    EXPECT_TRUE(mesma(lista->topLevelItem(1)->icon(0), cancela));
    EXPECT_TRUE(mesma(lista->topLevelItem(2)->icon(0), cancela));
    // Column widths fit the wider of contents and header; the last one reaches the edge.
    int soma = 0;
    for (int c = 0; c < 4; ++c) {
        soma += lista->columnWidth(c);
    }
    EXPECT_GE(soma + lista->columnWidth(4), lista->viewport()->width());
    EXPECT_GE(lista->columnWidth(1), lista->header()->sectionSizeHint(1));
}

TEST(MainWindow, AutoSizeColumnModes) {
    QTreeWidget lista;
    lista.setColumnCount(2);
    lista.setHeaderLabels({"Um cabeçalho bem mais largo que o item", ""});
    lista.resize(600, 200);
    new QTreeWidgetItem(&lista, {"x", "y"});
    const int item = static_cast<QAbstractItemView&>(lista).sizeHintForColumn(0);
    const int cabecalho = lista.header()->sectionSizeHint(0);
    ASSERT_LT(item, cabecalho);
    AutoSizeColumn(&lista, 0, -1);
    EXPECT_EQ(lista.columnWidth(0), item);
    AutoSizeColumn(&lista, 0, -2);
    EXPECT_EQ(lista.columnWidth(0), cabecalho);
    AutoSizeColumn(&lista, 0, -1);
    AutoSizeColumn(&lista, 0, -3);
    EXPECT_EQ(lista.columnWidth(0), cabecalho);  // the header is wider: the header's width
    AutoSizeColumn(&lista, 0, 7);                // any other mode: nothing
    EXPECT_EQ(lista.columnWidth(0), cabecalho);
}

TEST(MainWindow, PopupForNewInvoices) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a});
    Documento(w, w.a.cnpj, 3, "PRIMEIRO FORNECEDOR");
    Documento(w, w.a.cnpj, 2, "SEGUNDO FORNECEDOR");
    Documento(w, w.a.cnpj, 1,
              "TERCEIRO FORNECEDOR COM UM NOME MUITO MAIS LONGO DO QUE CABE NA JANELA LTDA");
    auto& p = w.Iniciar();
    auto* popup = F_Nota_Emitida;
    // Off (the default): three accepted keys show nothing.
    ASSERT_TRUE(Esperar([&] { return w.site.Uploads().size() == 3 && SemCiclo(); }));
    EXPECT_FALSE(popup->isVisible());

    // On, with the main window away: the pop-up shows the latest key of the cycle.
    p.CheckMostrarNotificacao()->setChecked(true);
    p.close();
    Documento(w, w.a.cnpj, 4, "QUARTO FORNECEDOR");
    Documento(w, w.a.cnpj, 5, "QUINTO FORNECEDOR");
    Documento(w, w.a.cnpj, 6, "SEXTO FORNECEDOR");
    w.service.SetMaxNsu(w.a.cnpj, 6);
    p.ButVerificarClick();
    ASSERT_TRUE(Esperar([&] { return w.site.Uploads().size() == 6 && SemCiclo(); }));
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(w.Achar<QLabel>(popup, "LabDe")->text().toStdString(), "QUARTO FORNECEDOR");
    EXPECT_EQ(w.Achar<QLabel>(popup, "LabPara")->text().toStdString(), w.a.cnpj);
    EXPECT_EQ(popup->size(), QSize(220, 76));
    EXPECT_TRUE(popup->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(popup->windowFlags() & Qt::WindowStaysOnTopHint);
    const QRect tela = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(popup->pos(), QPoint(tela.width() - 220 - 5, tela.height() - 76 - 40));

    // A name longer than the label is cut at the label's edge.
    popup->Abrir(QString::fromUtf8("TERCEIRO FORNECEDOR COM UM NOME MUITO MAIS LONGO"), "x");
    EXPECT_EQ(w.Achar<QLabel>(popup, "LabDe")->width(), 165);
    // Switching the box off leaves it up; "X" closes it.
    p.CheckMostrarNotificacao()->setChecked(false);
    popup->Abrir("outro", "y");
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(w.Achar<QLabel>(popup, "LabPara")->text().toStdString(), "x");
    QTest::mouseClick(w.Achar<QLabel>(popup, "LabSair"), Qt::LeftButton);
    EXPECT_FALSE(popup->isVisible());
}

TEST(MainWindow, SequentialModeEntry) {
    ShellWorld w;
    w.Credenciais();
    TProfileFile(w.dir.File("Config.dat")).WriteBool("Config", "ConsultaSequencial", true);
    w.Registradas({w.a});
    for (int n = 1; n <= 3; ++n) {
        Documento(w, w.a.cnpj, n, "FORNECEDOR " + std::to_string(n));
    }
    auto& p = w.Iniciar();
    auto* entrada = w.Achar<QAction>(&p, "ConsultaSequencial1");
    EXPECT_TRUE(entrada->isChecked());
    ASSERT_TRUE(w.PrimeiroCiclo());
    // The cycle read the documents in order, several per query (distNSU: no single NSU).
    ASSERT_FALSE(w.service.Queries().empty());
    EXPECT_EQ(w.service.Queries()[0].nsu, "");
    EXPECT_EQ(w.site.Uploads().size(), 3u);
    EXPECT_EQ(w.Achar<QTreeWidget>(&p, "ListViewEmpresas")->topLevelItem(0)->text(4).toStdString(),
              "3 novas notas foi inseridas");
    // The entry stores the mode at once.
    entrada->trigger();
    EXPECT_FALSE(
        TProfileFile(w.dir.File("Config.dat")).ReadBool("Config", "ConsultaSequencial", true));
    entrada->trigger();
    EXPECT_TRUE(
        TProfileFile(w.dir.File("Config.dat")).ReadBool("Config", "ConsultaSequencial", false));
}

TEST(MainWindow, InserirEmpresaSavesRefreshesAndTicksEvenWhenCancelled) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    std::filesystem::remove(w.dir.File("Empresas2.dat"));
    // A company added behind the list's back (the menu's registration does not refresh).
    p.Param().Empresas.Inserir(w.b.cnpj, "SP", w.b.name, w.b.serial, w.b.senha, "");
    auto* lista = w.Achar<QTreeWidget>(&p, "ListViewEmpresas");
    EXPECT_EQ(lista->topLevelItemCount(), 0);
    const size_t antes = w.service.Queries().size();
    NoProximoModal("F_CadEmpresas", [](QWidget* d) { d->close(); });
    w.Achar<QPushButton>(&p, "ButInserir")->click();
    EXPECT_TRUE(std::filesystem::exists(w.dir.File("Empresas2.dat")));
    EXPECT_EQ(lista->topLevelItemCount(), 1);
    EXPECT_TRUE(Esperar([&] { return w.service.Queries().size() > antes; }));
    ASSERT_TRUE(Esperar(SemCiclo));
}

}  // namespace
}  // namespace quelvo
