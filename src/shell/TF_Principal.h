#pragma once

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "common/ProfileFile.h"
#include "monitor/TConsultasParam.h"
#include "monitor/TListaEmpresas.h"
#include "monitor/TMonitorSchedule.h"
#include "monitor/TMonitorUpdate.h"
#include "shell/TQtSync.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace Ui {
class TF_Principal;
}

namespace quelvo {

class TRedirecionador;

// The main window: the header, the company list with its buttons and switches, the log, the
// status bar, the schedule's timers, the tray icon, and the program's start-up and shutdown.
// Closing it hides it; only the exit entries (and a failed start-up login) end the program.
class TF_Principal : public QMainWindow {
    Q_OBJECT
public:
    // The window's creation: logo, shared state, seen-lists, settings, interval, "temp".
    // `argumentos` are the program's arguments after its name.
    explicit TF_Principal(const QStringList& argumentos, QWidget* parent = nullptr);
    ~TF_Principal() override;

    // What the other windows use of this one.
    TProfileFile& Config() { return config_; }
    TConsultasParam& Param() { return param_; }
    TMonitorSchedule& Schedule() { return *schedule_; }
    TMonitorUpdate& Atualizacao() { return *atualizacao_; }
    QCheckBox* CheckAtivado() const;
    QCheckBox* CheckMostrarNotificacao() const;
    int Minutos() const { return minutos_; }

    // How the application's message loop is told to stop (the application's exit by default).
    std::function<void()> Terminar;

    // The exit flag: while it is false a close request hides the window.
    bool Finalizando = false;
    // Set at creation; the start-up sequence of the first showing clears it.
    bool PrimeiraExibicao = false;

    // Header logo from "logo.png" of the application folder, when it can be read.
    void Logo();
    // The registry to "Empresas2.dat" (raises when the file cannot be written).
    void EmpresasSalvar();
    // The company list from the registry; rows are updated in place.
    void TabCarr();
    // The interval from the checked entry of "Verificar notas a cada".
    void GetMinutos();
    // Ends the program at once, without the close handler's saves.
    void EncerrarAgora();

    // Handlers, named after the controls they serve.
    void Timer1Timer();
    void TimerMonitorTimer();
    void TimerAtualizaTimer();
    void TimerDesapareceTimer();
    void TimerFecharTimer();
    void TimerAtualizacaoTimer();
    void N5Minutos1Click();
    void CheckAtivadoClick();
    void ButVerificarClick();
    void ButVerificarUltimos3MesesClick();
    void LimparTempnoComputador1Click();
    void ButVerNotasClick();
    void ButInserirClick();
    void ButApagarClick();
    void TrayIcon1Click();
    void FinalizarAplicao1Click();
    void FinalizarAplicativo1Click();
    void SairAtalhoExecute();
    void Sobre1Click();
    void CadastrodeEmpresa1Click();
    void UsurionoSiteTravon1Click();
    void Proxy1Click();
    void CadastrodeUsurio1Click();
    void ConsultaSequencial1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    // Hides the window into the tray; minimises it where the desktop has no tray.
    void Esconder();
    void AjustarCabecalho();
    QTimer* NovoTimer(const char* nome, int periodo, bool ativo, void (TF_Principal::*acao)());

    std::unique_ptr<Ui::TF_Principal> ui_;
    std::string appDir_;
    bool minimizado_ = false;
    bool registroCarregado_ = false;
    int minutos_ = 5;

    TProfileFile config_;
    TConsultasParam param_;
    TQtSync sync_;
    std::unique_ptr<TMonitorSchedule> schedule_;
    std::unique_ptr<TMonitorUpdate> atualizacao_;

    std::array<QIcon, 3> PngImageList1;
    TListaEmpresas listaEmpresas_;
    QActionGroup* intervalos_ = nullptr;
    QLabel* painel0_ = nullptr;
    QLabel* painel1_ = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    TRedirecionador* redirecionador_ = nullptr;

    QTimer* Timer1 = nullptr;
    QTimer* TimerMonitor = nullptr;
    QTimer* TimerAtualiza = nullptr;
    QTimer* TimerDesaparece = nullptr;
    QTimer* TimerFechar = nullptr;
    QTimer* TimerAtualizacao = nullptr;
};

extern TF_Principal* F_Principal;

// Runs a handler; an error that escapes it is shown in the standard error box and the program
// goes on.
void ComErroPadrao(const std::function<void()>& handler);

}  // namespace quelvo
