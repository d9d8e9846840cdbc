#include "shell/TF_Principal.h"

#include <unistd.h>

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>

#include "common/ConsultaSequencial.h"
#include "common/MainSettings.h"
#include "common/TServidores.h"
#include "common/Utils.h"
#include "monitor/MigracaoEmpresas.h"
#include "monitor/TListaEmpresas.h"
#include "monitor/TMonitorUpdate.h"
#include "platform/Process.h"
#include "shell/AutoSizeColumns.h"
#include "shell/TF_CadEmpresas.h"
#include "shell/TF_ConfigProxy.h"
#include "shell/TF_Esperando.h"
#include "shell/TF_Nota_Emitida.h"
#include "shell/TF_Sobre.h"
#include "shell/TF_Usuario.h"
#include "shell/TNavegador.h"
#include "shell/TRedirecionador.h"
#include "site/TUsuarioLogin.h"
#include "ui_TF_Principal.h"

namespace quelvo {

TF_Principal* F_Principal = nullptr;

void ComErroPadrao(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(e.what());
    } catch (...) {
        ShowError("Erro inesperado.");
    }
}

namespace {

// The company list's rows as the list control holds them.
class LinhasDaLista : public ILinhasEmpresas {
public:
    LinhasDaLista(QTreeWidget* lista, const std::array<QIcon, 3>& imagens)
        : lista_(lista), imagens_(imagens) {}

    int Quantidade() const override { return lista_->topLevelItemCount(); }
    std::string Legenda(int linha) const override {
        return lista_->topLevelItem(linha)->text(0).toStdString();
    }
    int Acrescentar() override {
        new QTreeWidgetItem(lista_);  // the list owns its rows
        return Quantidade() - 1;
    }
    void Preencher(int linha, const TLinhaEmpresa& c) override {
        QTreeWidgetItem* item = lista_->topLevelItem(linha);
        // A status of several lines (an error message) shows on its one line.
        const QString textos[] = {QString::fromStdString(c.CNPJ), QString::fromStdString(c.UF),
                                  QString::fromStdString(c.Nome),
                                  QString::fromStdString(c.Vencimento),
                                  QString::fromStdString(c.Situacao).simplified()};
        for (int col = 0; col < 5; ++col) {
            if (item->text(col) != textos[col]) {
                item->setText(col, textos[col]);
            }
        }
        item->setTextAlignment(1, Qt::AlignCenter);
        const bool temImagem = c.Imagem >= 0 && c.Imagem < static_cast<int>(imagens_.size());
        item->setIcon(0, temImagem ? imagens_[static_cast<size_t>(c.Imagem)] : QIcon());
    }
    void Apagar(int linha) override {
        std::unique_ptr<QTreeWidgetItem> fora(lista_->takeTopLevelItem(linha));
    }

private:
    QTreeWidget* lista_;
    const std::array<QIcon, 3>& imagens_;
};

}  // namespace

TF_Principal::TF_Principal(const QStringList& argumentos, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TF_Principal>()),
      appDir_(ApplicationDir()),
      config_(appDir_ + "Config.dat"),
      sync_(
          param_, appDir_, this,
          [this](const std::vector<std::string>& linhas) {
              // One append for the lines gathered: the memo lays its text out once.
              QString texto;
              for (const auto& l : linhas) {
                  if (!texto.isEmpty()) {
                      texto += '\n';
                  }
                  texto += QString::fromStdString(l);
              }
              ui_->MemoLogs->appendPlainText(texto);
          },
          [](const std::string& de, const std::string& para) {
              if (F_Nota_Emitida != nullptr) {
                  F_Nota_Emitida->Abrir(QString::fromStdString(de), QString::fromStdString(para));
              }
          }) {
    ui_->setupUi(this);
    setObjectName("F_Principal");
    setFont(QFont("Tahoma", 8));
    Terminar = [] { QCoreApplication::exit(0); };
    minimizado_ = !argumentos.isEmpty() && argumentos.first().toLower() == "minimizado";

    const QStyle* estilo = style();
    // Pause: waiting or done; play: being queried; cancel: expired certificate or error.
    PngImageList1 = {estilo->standardIcon(QStyle::SP_MediaPause),
                     estilo->standardIcon(QStyle::SP_MediaPlay),
                     estilo->standardIcon(QStyle::SP_DialogCancelButton)};
    setWindowIcon(QIcon(":/quelvo/icone.png"));
    ui_->ImgLogo->setPixmap(QPixmap(":/quelvo/logo.png"));
    ui_->ButVerNotas->setIcon(estilo->standardIcon(QStyle::SP_FileDialogContentsView));
    ui_->ButVerificar->setIcon(estilo->standardIcon(QStyle::SP_BrowserReload));
    ui_->ButVerificarUltimos3Meses->setIcon(estilo->standardIcon(QStyle::SP_FileDialogBack));
    ui_->ButApagar->setIcon(estilo->standardIcon(QStyle::SP_TrashIcon));
    ui_->ButInserir->setIcon(estilo->standardIcon(QStyle::SP_FileDialogNewFolder));
    ui_->Shape1->installEventFilter(this);
    ui_->Splitter1->setSizes({216, 300});
    ui_->Splitter1->setStretchFactor(0, 0);
    ui_->Splitter1->setStretchFactor(1, 1);

    auto* header = ui_->ListViewEmpresas->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->model()->setHeaderData(1, Qt::Horizontal, Qt::AlignCenter, Qt::TextAlignmentRole);
    const int larguras[] = {132, 50, 185, 140, 184};
    for (int c = 0; c < 5; ++c) {
        ui_->ListViewEmpresas->setColumnWidth(c, larguras[c]);
    }

    painel0_ = new QLabel(this);
    painel0_->setObjectName("StatusBar1Painel0");
    painel0_->setFixedWidth(150);
    painel1_ = new QLabel(this);
    painel1_->setObjectName("StatusBar1Painel1");
    ui_->StatusBar1->addWidget(painel0_);
    ui_->StatusBar1->addWidget(painel1_, 1);

    // The seven interval entries are one radio group whose checked entry may be unchecked.
    intervalos_ = new QActionGroup(this);
    intervalos_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : ui_->Verificarnotasacada1->actions()) {
        intervalos_->addAction(a);
        connect(a, &QAction::triggered, this,
                [this] { ComErroPadrao([this] { N5Minutos1Click(); }); });
    }

    addAction(ui_->SairAtalho);
    ui_->SairAtalho->setShortcutContext(Qt::WindowShortcut);

    const auto liga = [this](auto* emissor, auto sinal, void (TF_Principal::*acao)()) {
        connect(emissor, sinal, this,
                [this, acao] { ComErroPadrao([this, acao] { (this->*acao)(); }); });
    };
    liga(ui_->ButVerNotas, &QPushButton::clicked, &TF_Principal::ButVerNotasClick);
    liga(ui_->ButVerificar, &QPushButton::clicked, &TF_Principal::ButVerificarClick);
    liga(ui_->ButVerificarUltimos3Meses, &QPushButton::clicked,
         &TF_Principal::ButVerificarUltimos3MesesClick);
    liga(ui_->ButApagar, &QPushButton::clicked, &TF_Principal::ButApagarClick);
    liga(ui_->ButInserir, &QPushButton::clicked, &TF_Principal::ButInserirClick);
    liga(ui_->CheckAtivado, &QCheckBox::toggled, &TF_Principal::CheckAtivadoClick);
    liga(ui_->CadastrodeEmpresa1, &QAction::triggered, &TF_Principal::CadastrodeEmpresa1Click);
    liga(ui_->CadastrodeUsurio1, &QAction::triggered, &TF_Principal::CadastrodeUsurio1Click);
    liga(ui_->UsurionoSiteTravon1, &QAction::triggered, &TF_Principal::UsurionoSiteTravon1Click);
    liga(ui_->Proxy1, &QAction::triggered, &TF_Principal::Proxy1Click);
    liga(ui_->FinalizarAplicao1, &QAction::triggered, &TF_Principal::FinalizarAplicao1Click);
    liga(ui_->LimparTempnoComputador1, &QAction::triggered,
         &TF_Principal::LimparTempnoComputador1Click);
    liga(ui_->Sobre1, &QAction::triggered, &TF_Principal::Sobre1Click);
    liga(ui_->ConsultaSequencial1, &QAction::triggered, &TF_Principal::ConsultaSequencial1Click);
    liga(ui_->SairAtalho, &QAction::triggered, &TF_Principal::SairAtalhoExecute);

    Timer1 = NovoTimer("Timer1", 100, false, &TF_Principal::Timer1Timer);
    TimerMonitor = NovoTimer("TimerMonitor", 1800000, false, &TF_Principal::TimerMonitorTimer);
    TimerAtualiza = NovoTimer("TimerAtualiza", 1000, true, &TF_Principal::TimerAtualizaTimer);
    TimerDesaparece = NovoTimer("TimerDesaparece", 10, false, &TF_Principal::TimerDesapareceTimer);
    TimerFechar = NovoTimer("TimerFechar", 100, false, &TF_Principal::TimerFecharTimer);
    TimerAtualizacao =
        NovoTimer("TimerAtualizacao", 14400000, true, &TF_Principal::TimerAtualizacaoTimer);

    // The tray icon is there from start to end, where the desktop offers a tray.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    QAction* finalizar = PopupMenu1->addAction(QStringLiteral("Finalizar Aplicativo"));
    finalizar->setObjectName("FinalizarAplicativo1");
    liga(finalizar, &QAction::triggered, &TF_Principal::FinalizarAplicativo1Click);
    TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon1->setObjectName("TrayIcon1");
    TrayIcon1->setToolTip(QString::fromUtf8(kAppTitle));
    TrayIcon1->setContextMenu(PopupMenu1);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    ComErroPadrao([this] { TrayIcon1Click(); });
                }
            });
    // Shown from start to end; a tray that appears later (a panel starting after the program)
    // picks it up.
    TrayIcon1->show();
    redirecionador_ = new TRedirecionador(this);

    // FormCreate.
    Logo();
    param_.AtualizarLista = [this] { TabCarr(); };
    param_.CarregarListas(appDir_);
    const TMainSettings settings = TMainSettings::Read(config_);
    ui_->IniciarJuntoComoWindows1->setChecked(settings.IniciarJuntoComoWindows);
    ui_->CheckMostrarNotificacao->setChecked(settings.CheckMostrarNotificacao);
    ui_->ConsultaSequencial1->setChecked(LerConsultaSequencial(config_));
    const auto entradas = ui_->Verificarnotasacada1->actions();
    for (int i = 0; i < entradas.size(); ++i) {
        entradas[i]->setChecked(i == settings.IntervaloMarcado);
    }
    schedule_ = std::make_unique<TMonitorSchedule>(param_, sync_, TConsultasAmbiente::Of(appDir_));
    atualizacao_ =
        std::make_unique<TMonitorUpdate>(appDir_, RunningExecutable(), platform::ProcessId());
    // Why an update was refused goes to the log like the worker's lines, from the check's thread
    // too.
    atualizacao_->EscreveLog = [this](const std::string& linha) { sync_.EscreveLog(linha); };
    // Each lookup of the tick opens the certificate store: the window stays responsive between
    // companies.
    schedule_->EntreEmpresas = [] { QCoreApplication::processEvents(); };
    GetMinutos();
    EnsureDir(appDir_ + "temp");
    PrimeiraExibicao = true;
}

TF_Principal::~TF_Principal() {
    // A running cycle gets no more of this window; the schedule then joins it.
    sync_.Encerrar();
    param_.AtualizarLista = nullptr;
    schedule_.reset();
    atualizacao_.reset();
    if (F_Principal == this) {
        F_Principal = nullptr;
    }
}

QTimer* TF_Principal::NovoTimer(const char* nome, int periodo, bool ativo,
                                void (TF_Principal::*acao)()) {
    auto* timer = new QTimer(this);
    timer->setObjectName(nome);
    timer->setInterval(periodo);
    connect(timer, &QTimer::timeout, this,
            [this, acao] { ComErroPadrao([this, acao] { (this->*acao)(); }); });
    if (ativo) {
        timer->start();
    }
    return timer;
}

QCheckBox* TF_Principal::CheckAtivado() const {
    return ui_->CheckAtivado;
}

QCheckBox* TF_Principal::CheckMostrarNotificacao() const {
    return ui_->CheckMostrarNotificacao;
}

void TF_Principal::Logo() {
    const QString path = QString::fromStdString(appDir_ + "logo.png");
    QPixmap figura;
    // A file that is not a picture leaves the built-in logo in place.
    if (!QFile::exists(path) || !figura.load(path)) {
        return;
    }
    ui_->ImgLogo->setPixmap(figura);
    ui_->ImgLogo->resize(figura.size());
    ui_->Label4->move(ui_->ImgLogo->x() + figura.width() + 6, ui_->Label4->y());
    ui_->Shape2->move(ui_->Label4->x(), ui_->Shape2->y());
    ui_->Label3->move(ui_->Shape2->x(), ui_->Label3->y());
    AjustarCabecalho();
}

void TF_Principal::AjustarCabecalho() {
    // The rule and the subtitle stretch with the window.
    const int largura = ui_->Shape1->width() - ui_->Shape2->x() - 12;
    ui_->Shape2->resize(largura, ui_->Shape2->height());
    ui_->Label3->resize(largura, ui_->Label3->height());
}

bool TF_Principal::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->Shape1 && event->type() == QEvent::Resize) {
        AjustarCabecalho();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TF_Principal::EmpresasSalvar() {
    param_.Empresas.Salvar(appDir_ + "Empresas2.dat");
}

void TF_Principal::TabCarr() {
    QTreeWidget* lista = ui_->ListViewEmpresas;
    LinhasDaLista linhas(lista, PngImageList1);
    const auto r = listaEmpresas_.Atualizar(linhas, param_.Empresas.Itens());
    if (r.inteira) {
        if (lista->topLevelItemCount() > 0) {
            AutoSizeColumns(lista, -3);
        }
        return;
    }
    // Only the rows filled again can need a wider column, and of a record only the expiry and
    // the status change; measuring every row at every synchronised call of a cycle would cost
    // the window a pass over the whole list.
    for (const int c : {3, 4}) {
        for (const int linha : r.preenchidas) {
            const QModelIndex i = lista->model()->index(linha, c);
            if (static_cast<const QAbstractItemView*>(lista)->sizeHintForIndex(i).width() >
                lista->columnWidth(c)) {
                AutoSizeColumn(lista, c, -3);
                break;
            }
        }
    }
}

void TF_Principal::GetMinutos() {
    int minutos = 5;
    for (QAction* entrada : ui_->Verificarnotasacada1->actions()) {
        if (entrada->isChecked()) {
            minutos = MinutosDaLegenda(entrada->text().toStdString());
            break;
        }
    }
    minutos_ = minutos;
    schedule_->SetMinutos(minutos);
    ui_->Label6->setText(QString::fromStdString(schedule_->IntervalLabel()));
    // A new period counts from now; an unchanged one keeps its count.
    const int periodo = minutos * 60 * 1000;
    if (TimerMonitor->interval() != periodo) {
        TimerMonitor->setInterval(periodo);
    }
}

void TF_Principal::N5Minutos1Click() {
    GetMinutos();
}

void TF_Principal::CheckAtivadoClick() {
    const bool ativado = ui_->CheckAtivado->isChecked();
    if (F_Usuario != nullptr) {
        F_Usuario->HabilitarEdicao(!ativado);
    }
    param_.Ativo = ativado;
}

void TF_Principal::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (PrimeiraExibicao) {
        // After the window is on the screen: the sequence opens modal dialogs.
        QTimer::singleShot(0, this, [this] { FormShow(); });
    }
}

void TF_Principal::FormShow() {
    if (!PrimeiraExibicao) {
        return;
    }
    PrimeiraExibicao = false;
    ComErroPadrao([this] {
        // Other copies of the program were ended before this one loaded anything.
        F_Usuario->Inicializando = true;
        struct FimDaInicializacao {
            ~FimDaInicializacao() { F_Usuario->Inicializando = false; }
        } fim;
        F_Usuario->Login(false, true);
        if (!ui_->CheckAtivado->isChecked()) {
            F_Usuario->exec();
        }
    });
    if (Finalizando || sync_.Encerrando()) {
        return;  // the program was ended while the login dialog was open
    }
    if (!ui_->CheckAtivado->isChecked()) {
        TimerFechar->start();
    }
    ComErroPadrao([this] {
        param_.Empresas.Carregar(appDir_ + "Empresas2.dat");
        registroCarregado_ = true;
        MigracaoEmpresas(param_.Empresas, appDir_);
        TabCarr();
        Timer1->start();
        if (minimizado_) {
            TimerDesaparece->start();
        }
    });
}

void TF_Principal::closeEvent(QCloseEvent* event) {
    try {
        TMainSettings settings;
        settings.IniciarJuntoComoWindows = ui_->IniciarJuntoComoWindows1->isChecked();
        settings.CheckMostrarNotificacao = ui_->CheckMostrarNotificacao->isChecked();
        settings.IntervaloMarcado = -1;
        const auto entradas = ui_->Verificarnotasacada1->actions();
        for (int i = 0; i < entradas.size(); ++i) {
            if (entradas[i]->isChecked()) {
                settings.IntervaloMarcado = i;
            }
        }
        settings.Write(config_);
        // Before the start-up has read "Empresas2.dat" the registry in memory is not the
        // user's: writing it would erase the file.
        if (registroCarregado_) {
            EmpresasSalvar();
        }
        param_.SalvarListas(appDir_);
    } catch (const std::exception& e) {
        ShowError(e.what());
        event->ignore();
        return;
    }
    if (!Finalizando) {
        event->ignore();
        Esconder();
        return;
    }
    event->accept();
    sync_.Encerrar();
    Terminar();
}

void TF_Principal::EncerrarAgora() {
    sync_.Encerrar();
    Terminar();
}

void TF_Principal::Esconder() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
    } else {
        // Without a tray a hidden window could not be reached again.
        showMinimized();
    }
}

void TF_Principal::Timer1Timer() {
    Timer1->stop();
    param_.Ativo = ui_->CheckAtivado->isChecked();
    TimerMonitorTimer();
    if (sync_.Encerrando()) {
        return;  // ended while the tick served the window: no box can be answered any more
    }
    if (ui_->CheckAtivado->isChecked()) {
        TimerMonitor->start();
    } else {
        TimerMonitor->stop();
    }
    TimerAtualizacaoTimer();
    if (atualizacao_->OfferUpdate([](const std::string& q) { return ConfirmOrClose(q); },
                                  TDateTime::Now())) {
        // The script replaces the executable once this program has ended: at once, without
        // the close handler.
        EncerrarAgora();
    }
}

void TF_Principal::TimerMonitorTimer() {
    schedule_->Tick();
}

void TF_Principal::TimerAtualizaTimer() {
    painel0_->setText(QString::fromStdString(schedule_->StatusPanel0()));
    painel1_->setText(QString::fromStdString(schedule_->StatusPanel1()));
}

void TF_Principal::TimerDesapareceTimer() {
    TimerDesaparece->stop();
    Esconder();
}

void TF_Principal::TimerFecharTimer() {
    TimerFechar->stop();
    Finalizando = true;
    close();
}

void TF_Principal::TimerAtualizacaoTimer() {
    atualizacao_->IniciarVerificacao(param_.Proxy.Get());
}

void TF_Principal::ButVerificarClick() {
    if (const auto texto = schedule_->VerificarAgora()) {
        ShowInfo(*texto);
    }
}

void TF_Principal::ButVerificarUltimos3MesesClick() {
    schedule_->VerificarUltimos3Meses(
        [this](bool ativado) { ui_->CheckAtivado->setChecked(ativado); },
        [] { F_Esperando->exec(); });
}

void TF_Principal::LimparTempnoComputador1Click() {
    schedule_->LimparTemp([](const std::string& pergunta) { return Confirm(pergunta); },
                          [](const std::string& texto) { ShowInfo(texto); });
}

void TF_Principal::ButVerNotasClick() {
    const TUsuarioLogin login(param_.Proxy.Get(), TServidores::Load(appDir_));
    const std::string pagina =
        login.VerNotasUrl(F_Usuario->Usuario().toStdString(), F_Usuario->Senha().toStdString());
    const std::string local = redirecionador_->Publicar(pagina);
    if (local.empty()) {
        throw std::runtime_error("Não foi possível abrir a página das notas no navegador.");
    }
    AbrirEndereco(local);
}

void TF_Principal::ButInserirClick() {
    F_CadEmpresas->exec();
    if (sync_.Encerrando()) {
        return;
    }
    EmpresasSalvar();
    TabCarr();
    TimerMonitorTimer();
}

void TF_Principal::ButApagarClick() {
    QTreeWidgetItem* focada = ui_->ListViewEmpresas->currentItem();
    if (focada == nullptr) {
        ShowInfo("É necessário selecionar a empresa.");
        return;
    }
    const int indice = param_.Empresas.Localizar(focada->text(0).toStdString());
    if (indice == -1) {
        return;
    }
    const EmpresaPtr empresa = param_.Empresas.Item(indice);
    if (!Confirm("Deseja realmente apagar a empresa \"CNPJ:" + empresa->CNPJ() + " " +
                 empresa->Nome() + "\" selecionada ?")) {
        return;
    }
    param_.Empresas.Apagar(indice);
    EmpresasSalvar();
    TabCarr();
}

void TF_Principal::TrayIcon1Click() {
    if (isVisible() && !isMinimized()) {
        hide();
    } else {
        showNormal();
        activateWindow();
        raise();
    }
}

void TF_Principal::FinalizarAplicao1Click() {
    Finalizando = true;
    close();
}

void TF_Principal::FinalizarAplicativo1Click() {
    Finalizando = true;
    close();
}

void TF_Principal::SairAtalhoExecute() {
    close();
}

void TF_Principal::Sobre1Click() {
    F_Sobre->exec();
}

void TF_Principal::CadastrodeEmpresa1Click() {
    F_CadEmpresas->exec();
}

void TF_Principal::UsurionoSiteTravon1Click() {
    F_Usuario->exec();
}

void TF_Principal::Proxy1Click() {
    F_ConfigProxy->exec();
}

void TF_Principal::ConsultaSequencial1Click() {
    // Stored at once: the worker reads the mode at every company's turn.
    const bool sequencial = ui_->ConsultaSequencial1->isChecked();
    try {
        GravarConsultaSequencial(config_, sequencial);
    } catch (...) {
        ui_->ConsultaSequencial1->setChecked(!sequencial);
        throw;
    }
}

void TF_Principal::CadastrodeUsurio1Click() {
    AbrirEndereco(TUsuarioLogin(param_.Proxy.Get(), TServidores::Load(appDir_)).CadastroUrl());
}

}  // namespace quelvo
