// The login, proxy, registration, certificate and about dialogs, and the site pages.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <future>

#include "certificates/TCertificate.h"
#include "common/DateTime.h"
#include "common/ProfileFile.h"
#include "shell/ShellWorld.h"
#include "shell/TF_CadEmpresas.h"
#include "shell/TF_Certificados.h"
#include "shell/TF_ConfigProxy.h"
#include "shell/TF_Sobre.h"
#include "shell/TF_Usuario.h"
#include "shell/TQtMessageBoxes.h"
#include "site/TTravonHttp.h"
#include "support/SoftHsm.h"

namespace quelvo {
namespace {

using test::Esperar;
using test::NoProximoModal;
using test::SemCiclo;
using test::ShellWorld;

TEST(Dialogs, LoginOutsideTheStartUp) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    auto* usuario = w.Achar<QLineEdit>(F_Usuario, "EditUsuario");
    auto* senha = w.Achar<QLineEdit>(F_Usuario, "EditSenha");
    EXPECT_EQ(senha->echoMode(), QLineEdit::Password);
    EXPECT_EQ(F_Usuario->windowTitle().toStdString(), "Login do Usuário");
    EXPECT_EQ(w.Achar<QLabel>(F_Usuario, "Label2")->text().toStdString(),
              "Digite o mesmo login utilizado no site " + w.site.HostPort());

    // Opened from the menu while logged in and closed: the credentials are written and checked
    // once more; the program goes on.
    const int logins = w.Logins();
    NoProximoModal("F_Usuario", [](QWidget* d) { d->close(); });
    w.Achar<QAction>(&p, "UsurionoSiteTravon1")->trigger();
    EXPECT_EQ(w.Logins(), logins + 1);
    EXPECT_EQ(w.terminou, 0);
    EXPECT_TRUE(p.CheckAtivado()->isChecked());

    // Logged out by hand, a wrong password through "Confirma": the site's reason, still open;
    // then Esc: the credentials are written, the closing login is refused too, and the program
    // ends at once, without the main window's saves.
    p.CheckAtivado()->setChecked(false);
    std::filesystem::remove(w.dir.File("Empresas2.dat"));
    std::vector<std::string> vistas;
    NoProximoModal("F_Usuario", [&](QWidget* d) {
        senha->setText("errada");
        w.Achar<QPushButton>(d, "ButConfirma")->click();
        EXPECT_TRUE(d->isVisible());
        for (const auto& c : w.Caixas()) {
            vistas.push_back(c.text);
        }
        QTest::keyClick(d, Qt::Key_Escape);
    });
    w.Achar<QAction>(&p, "UsurionoSiteTravon1")->trigger();
    EXPECT_EQ(vistas, std::vector<std::string>{"Usuário ou senha inválidos."});
    EXPECT_EQ(w.terminou, 1);
    EXPECT_EQ(TProfileFile(w.dir.File("Config.dat")).ReadString("Config", "Senha"), "errada");
    EXPECT_EQ(TProfileFile(w.dir.File("Config.dat")).ReadString("Config", "Usuario"),
              usuario->text().toStdString());
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("Empresas2.dat")));
    EXPECT_FALSE(p.Param().Ativo);
}

TEST(Dialogs, ConfirmaLogsInAndCloses) {
    ShellWorld w;
    w.Credenciais(ShellWorld::kUsuario, "errada");
    // The start-up: refused, the dialog opens; the right password, "Confirma".
    NoProximoModal("F_Usuario", [&](QWidget* d) {
        w.Achar<QLineEdit>(d, "EditSenha")->setText(QString::fromUtf8(ShellWorld::kSenha));
        w.Achar<QPushButton>(d, "ButConfirma")->click();
    });
    auto& p = w.Iniciar();
    EXPECT_TRUE(p.CheckAtivado()->isChecked());
    EXPECT_FALSE(F_Usuario->isVisible());
    EXPECT_EQ(p.Param().Usuario.Get(), ShellWorld::kUsuario);
    // Refused at start, "Confirma", the closing login: three requests.
    EXPECT_EQ(w.Logins(), 3);
    EXPECT_EQ(TProfileFile(w.dir.File("Config.dat")).ReadString("Config", "Senha"),
              ShellWorld::kSenha);
    QTest::qWait(200);
    EXPECT_EQ(w.terminou, 0);  // logged in: no exit timer
}

TEST(Dialogs, ProxySaveCancelAndEsc) {
    ShellWorld w;
    w.Credenciais();
    TProfileFile(w.dir.File("Config.dat")).WriteString("Proxy", "Servidor", "antigo.local");
    auto& p = w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    // The dialog's creation loaded the stored proxy into the shared state.
    EXPECT_EQ(p.Param().Proxy.Get().Server, "antigo.local");

    auto* servidor = w.Achar<QLineEdit>(F_ConfigProxy, "EditServidor");
    auto* porta = w.Achar<QLineEdit>(F_ConfigProxy, "EditPorta");
    NoProximoModal("F_ConfigProxy", [&](QWidget* d) {
        EXPECT_EQ(servidor->text().toStdString(), "antigo.local");
        servidor->setText("proxy.local");
        porta->setText("80 8a0");
        w.Achar<QLineEdit>(d, "EditUsuario")->setText("u");
        w.Achar<QLineEdit>(d, "EditSenha")->setText("p");
        // Declined: the port keeps only its digits, nothing is written.
        w.Achar<QPushButton>(d, "ButSalvar")->click();
        EXPECT_EQ(porta->text().toStdString(), "8080");
        EXPECT_TRUE(d->isVisible());
        w.boxes->confirmAnswer = true;
        w.Achar<QPushButton>(d, "ButSalvar")->click();
    });
    w.Achar<QAction>(&p, "Proxy1")->trigger();
    const auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 2u);
    EXPECT_EQ(caixas[0].text, "Deseja realmente salvar as configurações proxy ?");
    EXPECT_FALSE(F_ConfigProxy->isVisible());
    EXPECT_NE(
        w.dir.Read("Config.dat")
            .find("[Proxy]\r\nServidor=proxy.local\r\nPorta=8080\r\nUsuario=u\r\nSenha=p\r\n"),
        std::string::npos);
    EXPECT_EQ(p.Param().Proxy.Get().Port, 8080);

    // "Cancelar" puts the stored values back and stays open; Esc closes without saving.
    NoProximoModal("F_ConfigProxy", [&](QWidget* d) {
        servidor->setText("mudado");
        w.Achar<QPushButton>(d, "ButCancelar")->click();
        EXPECT_EQ(servidor->text().toStdString(), "proxy.local");
        EXPECT_TRUE(d->isVisible());
        servidor->setText("mudado de novo");
        QTest::keyClick(d, Qt::Key_Escape);
    });
    w.Achar<QAction>(&p, "Proxy1")->trigger();
    EXPECT_EQ(TProfileFile(w.dir.File("Config.dat")).ReadString("Proxy", "Servidor"),
              "proxy.local");
    EXPECT_EQ(p.Param().Proxy.Get().Server, "proxy.local");
}

TEST(Dialogs, RegistrationThroughTheChooser) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    auto* cnpj = w.Achar<QLineEdit>(F_CadEmpresas, "EditCNPJ");
    auto* uf = w.Achar<QComboBox>(F_CadEmpresas, "ComboUF");
    auto* certificado = w.Achar<QLineEdit>(F_CadEmpresas, "EditCertificadoDigital");
    auto* senha = w.Achar<QLineEdit>(F_CadEmpresas, "EditCertSenha");
    EXPECT_EQ(uf->count(), 27);
    EXPECT_EQ(uf->itemText(0).toStdString(), "AC");
    EXPECT_EQ(uf->itemText(26).toStdString(), "TO");
    EXPECT_EQ(uf->currentIndex(), -1);
    EXPECT_EQ(certificado->text().toStdString(), "Clique aqui para escolher o certificado digital");

    w.boxes->confirmAnswer = true;
    std::vector<std::string> vistas;
    NoProximoModal("F_CadEmpresas", [&](QWidget* d) {
        // 13 digits: refused, the focus goes to the CNPJ.
        QTest::keyClicks(cnpj, "1122233300018");
        w.Achar<QPushButton>(d, "ButConfirmar")->click();
        for (const auto& c : w.Caixas()) {
            vistas.push_back(c.text);
        }
        // (The focus shows once the dialog's window is active: waited for, on a busy machine.)
        EXPECT_TRUE(
            Esperar([&] { return cnpj->hasFocus() || QApplication::focusWidget() == cnpj; }));
        cnpj->clear();
        QTest::keyClicks(cnpj, "11222333000181");
        EXPECT_EQ(cnpj->text().toStdString(), "11.222.333/0001-81");
        uf->setCurrentIndex(uf->findText("SP"));
        // The chooser lists the store; the company's certificate is chosen.
        NoProximoModal("F_Certificados", [&](QWidget* c) {
            EXPECT_EQ(c->windowTitle().toStdString(), "Certificados Digitais");
            auto* lista = w.Achar<QTreeWidget>(c, "ListaCertificados");
            EXPECT_EQ(lista->topLevelItemCount(), 2);
            for (int i = 0; i < lista->topLevelItemCount(); ++i) {
                if (lista->topLevelItem(i)->text(1).toStdString() == w.a.serial) {
                    lista->setCurrentItem(lista->topLevelItem(i));
                }
            }
            w.Achar<QPushButton>(c, "ButOK")->click();
        });
        QTest::mouseClick(certificado, Qt::LeftButton);
        EXPECT_EQ(certificado->text().toStdString(), w.a.serial);
        // Enter in the password acts as "Confirmar": the test query, the question, the end.
        QTest::keyClicks(senha, QString::fromStdString(w.a.senha));
        QTest::keyClick(senha, Qt::Key_Return);
    });
    w.Achar<QPushButton>(&p, "ButInserir")->click();
    for (const auto& c : w.Caixas()) {
        vistas.push_back(c.text);
    }
    EXPECT_EQ(vistas, (std::vector<std::string>{"É necessário digitar o CNPJ.",
                                                "Deseja realmente inserir essa empresa ?"}));
    EXPECT_FALSE(F_CadEmpresas->isVisible());
    // The query went to the service with the company's certificate.
    bool consultou = false;
    for (const auto& q : w.service.Queries()) {
        consultou |= q.cnpj == w.a.cnpj && q.certificateSerial == w.a.serial;
    }
    EXPECT_TRUE(consultou);
    // "Inserir Empresa" saved it and listed it; the fields went back to empty, the password
    // stays for the next time.
    EXPECT_NE(w.dir.Read("Empresas2.dat").find("11.222.333/0001-81"), std::string::npos);
    EXPECT_EQ(w.Achar<QTreeWidget>(&p, "ListViewEmpresas")->topLevelItemCount(), 1);
    EXPECT_EQ(certificado->text().toStdString(), "Clique aqui para escolher o certificado digital");
    EXPECT_EQ(uf->currentIndex(), -1);
    EXPECT_EQ(senha->text().toStdString(), w.a.senha);
    ASSERT_TRUE(Esperar(SemCiclo));
}

TEST(Dialogs, ChooserMarksACertificateOnAToken) {
    test::SoftHsm hsm;
    hsm.AddToken("eToken Empresa T", "4321");
    ShellWorld w;
    const auto t =
        w.AddTokenCompany(hsm, "eToken Empresa T", "4321", "EMPRESA T LTDA", "60746948000112");
    w.Credenciais();
    w.Iniciar();
    ASSERT_TRUE(w.PrimeiroCiclo());
    w.boxes->confirmAnswer = true;
    auto* certificado = w.Achar<QLineEdit>(F_CadEmpresas, "EditCertificadoDigital");
    NoProximoModal("F_CadEmpresas", [&](QWidget*) {
        QTest::keyClicks(w.Achar<QLineEdit>(F_CadEmpresas, "EditCNPJ"), "60746948000112");
        auto* uf = w.Achar<QComboBox>(F_CadEmpresas, "ComboUF");
        uf->setCurrentIndex(uf->findText("PR"));
        NoProximoModal("F_Certificados", [&](QWidget* c) {
            auto* lista = w.Achar<QTreeWidget>(c, "ListaCertificados");
            ASSERT_EQ(lista->topLevelItemCount(), 3);
            EXPECT_EQ(lista->headerItem()->text(3).toStdString(), "Local");
            for (int i = 0; i < lista->topLevelItemCount(); ++i) {
                QTreeWidgetItem* item = lista->topLevelItem(i);
                const bool onToken = item->text(1).toStdString() == t.serial;
                EXPECT_EQ(item->text(3).toStdString(),
                          onToken ? "Token eToken Empresa T" : "Arquivo");
                if (onToken) {
                    lista->setCurrentItem(item);
                }
            }
            w.Achar<QPushButton>(c, "ButOK")->click();
        });
        QTest::mouseClick(certificado, Qt::LeftButton);
        auto* senha = w.Achar<QLineEdit>(F_CadEmpresas, "EditCertSenha");
        senha->clear();
        QTest::keyClicks(senha, "4321");  // the token's PIN
        QTest::keyClick(senha, Qt::Key_Return);
    });
    auto& p = *F_Principal;
    w.Achar<QPushButton>(&p, "ButInserir")->click();
    const auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 1u);
    EXPECT_EQ(caixas[0].text, "Deseja realmente inserir essa empresa ?");
    EXPECT_NE(w.dir.Read("Empresas2.dat").find(t.serial), std::string::npos);
    ASSERT_FALSE(w.service.Queries().empty());
    EXPECT_EQ(w.service.Queries().back().certificateSerial, t.serial);
    ASSERT_TRUE(Esperar(SemCiclo));
}

TEST(Dialogs, ChooserImportsAPfx) {
    ShellWorld w;
    w.Credenciais();
    w.Iniciar();
    const auto emitido = test::SharedPki().IssueECnpj("NOVA EMPRESA", "60746948000112");
    const std::string arquivo =
        w.dir.Write("nova.pfx", test::SharedPki().Pkcs12(emitido, "9", false));
    std::vector<std::string> senhas = {"errada", "9"};
    const auto arquivoAnterior = TF_Certificados::EscolherArquivo;
    const auto senhaAnterior = TF_Certificados::PedirSenha;
    TF_Certificados::EscolherArquivo = [&](QWidget*) { return QString::fromStdString(arquivo); };
    TF_Certificados::PedirSenha = [&](QWidget*, const QString&) -> std::optional<QString> {
        const std::string s = senhas.front();
        senhas.erase(senhas.begin());
        return QString::fromStdString(s);
    };
    auto* certificado = w.Achar<QLineEdit>(F_CadEmpresas, "EditCertificadoDigital");
    NoProximoModal("F_CadEmpresas", [&](QWidget* d) {
        NoProximoModal("F_Certificados", [&](QWidget* c) {
            auto* importar = w.Achar<QPushButton>(c, "ButImportar");
            importar->click();  // the wrong password: said, nothing imported
            EXPECT_EQ(w.Achar<QTreeWidget>(c, "ListaCertificados")->topLevelItemCount(), 2);
            importar->click();
            auto* lista = w.Achar<QTreeWidget>(c, "ListaCertificados");
            EXPECT_EQ(lista->topLevelItemCount(), 3);
            EXPECT_EQ(lista->currentItem()->text(0).toStdString(), "NOVA EMPRESA:60746948000112");
            EXPECT_EQ(lista->currentItem()->text(2).toStdString(), "31/12/2049");
            w.Achar<QPushButton>(c, "ButOK")->click();
        });
        QTest::mouseClick(certificado, Qt::LeftButton);
        d->close();
    });
    F_Principal->CadastrodeEmpresa1Click();
    TF_Certificados::EscolherArquivo = arquivoAnterior;
    TF_Certificados::PedirSenha = senhaAnterior;
    EXPECT_EQ(certificado->text().toStdString(), SerialNumberOf(emitido.cert.get()));
    const auto caixas = w.Caixas();
    ASSERT_EQ(caixas.size(), 1u);
    EXPECT_NE(caixas[0].text.find("A senha informada não abre"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(
        w.dir.File("certificados/" + SerialNumberOf(emitido.cert.get()) + ".pfx")));
}

// When the file was made, as "dd/mm/yyyy hh:mm:ss" in local time, read here with the system's
// own calls: its birth time, or its last change where the file system keeps no birth time.
std::string CriadoEm(const std::string& path) {
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) {
        return "(sem data)";
    }
    const std::time_t t =
        (stx.stx_mask & STATX_BTIME) ? stx.stx_btime.tv_sec : stx.stx_mtime.tv_sec;
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char texto[32];
    std::strftime(texto, sizeof texto, "%d/%m/%Y %H:%M:%S", &tm);
    return texto;
}

TEST(Dialogs, AboutBox) {
    ShellWorld w;
    w.Credenciais();
    w.Iniciar();
    std::error_code ec;
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    EXPECT_EQ(w.Achar<QLabel>(F_Sobre, "Version")->text().toStdString(),
              "Versão: " + FileVersion(exe));
    EXPECT_EQ(w.Achar<QLabel>(F_Sobre, "Version")->text().toStdString(),
              std::string("Versão: ") + QUELVO_VERSION);
    EXPECT_EQ(w.Achar<QLabel>(F_Sobre, "Label1")->text().toStdString(), CriadoEm(exe));
    EXPECT_EQ(w.Achar<QLabel>(F_Sobre, "ProductName")->text().toStdString(),
              "Travon Quelvo Emitidas");
    EXPECT_EQ(w.Achar<QPlainTextEdit>(F_Sobre, "Memo1")->toPlainText().toStdString(),
              "Esse aplicativo tem a função de receber todas as \nchaves das notas emitidas dos "
              "CNPJs cadastrados e \nem seguida enviá-las para o site " +
                  w.site.HostPort() + " e \nassim poder ser baixadas.");
    NoProximoModal("F_Sobre", [&](QWidget* d) { w.Achar<QPushButton>(d, "OKButton")->click(); });
    F_Principal->Sobre1Click();
    EXPECT_FALSE(F_Sobre->isVisible());
}

TEST(Dialogs, SitePagesInTheBrowser) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    w.Achar<QAction>(&p, "CadastrodeUsurio1")->trigger();
    ASSERT_EQ(w.enderecos.size(), 1u);
    EXPECT_EQ(w.enderecos[0], "http://" + w.site.HostPort() + "/usuario/cadastro.aspx");

    // "Ver as Notas": the browser gets a local one-time address, which sends it on to the
    // user's page with the credentials exactly as typed.
    w.Achar<QPushButton>(&p, "ButVerNotas")->click();
    ASSERT_EQ(w.enderecos.size(), 2u);
    const std::string local = w.enderecos[1];
    EXPECT_EQ(local.rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_EQ(local.find(ShellWorld::kSenha), std::string::npos);
    const auto pedir = [&](const std::string& url) {
        auto resposta = std::async(std::launch::async, [url] {
            TTravonHttp http;
            try {
                http.GetText(url);
            } catch (const std::exception&) {
            }
            return std::make_pair(http.StatusCode, http.ResponseHeader("Location"));
        });
        Esperar([&] {
            return resposta.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        return resposta.get();
    };
    // Another user on this machine, who read the address on the browser's command line, gets
    // nothing from it.
    if (::getuid() == 0) {
        const auto barra = local.find('/', 7);
        const int porta = std::stoi(local.substr(local.rfind(':') + 1, barra));
        const std::string pedido = "GET " + local.substr(barra) + " HTTP/1.1\r\n\r\n";
        const pid_t outro = ::fork();
        if (outro == 0) {
            char resposta[64] = {};
            if (::setuid(65534) != 0) {
                ::_exit(2);
            }
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(porta));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
                ::write(fd, pedido.data(), pedido.size()) < 0) {
                ::_exit(3);
            }
            const ssize_t n = ::read(fd, resposta, sizeof resposta - 1);
            ::_exit(n > 0 ? 1 : 0);  // 0: nothing answered
        }
        int st = 0;
        ASSERT_TRUE(Esperar([&] { return ::waitpid(outro, &st, WNOHANG) == outro; }));
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
    }
    const auto [status, location] = pedir(local);
    EXPECT_EQ(status, 302);
    EXPECT_EQ(location, "http://" + w.site.HostPort() +
                            "/usuario/comandos.aspx?t=loginmonitor&usuario=ana@empresa.com&"
                            "senha=s&gredo");
    EXPECT_EQ(pedir(local).first, 404);  // once only
}

// Without a browser "Ver as Notas" says so (without the address, which carries the password),
// whether xdg-open is missing or finds no browser; a browser that opens says nothing.
TEST(Dialogs, NoBrowserIsSaid) {
    ShellWorld w;
    w.Credenciais();
    auto& p = w.Iniciar();
    const auto antes = InstalarAbridorDeEnderecos({});  // the desktop's own opener
    const QByteArray path = qgetenv("PATH");
    const struct {
        const char* what;
        const char* xdgOpen;  // the script of a stand-in xdg-open (nullptr: none on the PATH)
        bool said;
    } cases[] = {
        {"no xdg-open", nullptr, true},
        {"xdg-open finds no browser", "#!/bin/sh\necho \"no method available\" >&2\nexit 3\n",
         true},
        {"a browser opens", "#!/bin/sh\nexit 0\n", false},
    };
    for (const auto& c : cases) {
        test::TempDir bin;
        if (c.xdgOpen) {
            bin.Write("xdg-open", c.xdgOpen);
            std::filesystem::permissions(bin.File("xdg-open"), std::filesystem::perms::owner_all);
        }
        qputenv("PATH", QByteArray::fromStdString(bin.path().string()));
        const size_t antesDoClique = w.boxes->All().size();
        w.Achar<QPushButton>(&p, "ButVerNotas")->click();
        const auto disse = [&] {
            const auto caixas = w.boxes->All();
            return caixas.size() > antesDoClique && caixas.back().text == kSemNavegador;
        };
        EXPECT_TRUE(Esperar([] { return AberturasEmAndamento() == 0; })) << c.what;
        EXPECT_EQ(disse(), c.said) << c.what;
        for (const auto& caixa : w.boxes->All()) {
            EXPECT_EQ(caixa.text.find(ShellWorld::kSenha), std::string::npos);
        }
    }
    qputenv("PATH", path);
    InstalarAbridorDeEnderecos(antes);
}

TEST(Dialogs, StandardMessageBoxes) {
    TQtMessageBoxes caixas;
    const auto responder = [](const char* botao, std::string* titulo, std::string* texto) {
        NoProximoModal("", [=](QWidget* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_NE(box, nullptr);
            *titulo = box->windowTitle().toStdString();
            *texto = box->text().toStdString();
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == QString::fromUtf8(botao)) {
                    b->click();
                }
            }
        });
    };
    std::string titulo, texto;
    responder("Sim", &titulo, &texto);
    EXPECT_TRUE(caixas.Confirm("Deseja realmente?\r\nSegunda linha"));
    EXPECT_EQ(titulo, "Quelvo do Site Travon");
    EXPECT_EQ(texto, "Deseja realmente?\nSegunda linha");
    responder("Não", &titulo, &texto);
    EXPECT_FALSE(caixas.Confirm("De novo?"));
    responder("OK", &titulo, &texto);
    caixas.Error("Falhou.");
    EXPECT_EQ(texto, "Falhou.");

    // A question the program's end closes has no answer; "Não" (also Esc) is one.
    responder("Não", &titulo, &texto);
    EXPECT_EQ(caixas.ConfirmOrClose("Atualizar?"), std::optional<bool>(false));
    NoProximoModal("", [](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
    EXPECT_EQ(caixas.ConfirmOrClose("Atualizar?"), std::optional<bool>(false));
    // As the program's end closes it (its event loops told to end): no button pressed.
    NoProximoModal("", [](QWidget* d) { qobject_cast<QDialog*>(d)->done(0); });
    EXPECT_EQ(caixas.ConfirmOrClose("Atualizar?"), std::nullopt);
}

}  // namespace
}  // namespace quelvo
