#include "shell/TF_Usuario.h"

#include <QCheckBox>
#include <QPixmap>

#include "common/TServidores.h"
#include "common/Utils.h"
#include "shell/TF_ConfigProxy.h"
#include "shell/TF_Principal.h"
#include "shell/TNavegador.h"
#include "site/TUsuarioLogin.h"
#include "ui_TF_Usuario.h"

namespace quelvo {

TF_Usuario* F_Usuario = nullptr;

TF_Usuario::TF_Usuario(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TF_Usuario>()) {
    ui_->setupUi(this);
    setObjectName("F_Usuario");
    setFixedSize(size());
    ui_->Image1->setPixmap(QPixmap(":/quelvo/logo.png"));
    ui_->Label2->setText(ui_->Label2->text() +
                         QString::fromStdString(TServidores::Load(ApplicationDir()).Site));
    connect(ui_->ButConfirma, &QPushButton::clicked, this,
            [this] { ComErroPadrao([this] { ButConfirmaClick(); }); });
    connect(ui_->Label5, &QLabel::linkActivated, this,
            [this] { ComErroPadrao([this] { Label5Click(); }); });
    connect(ui_->Label6, &QLabel::linkActivated, this,
            [this] { ComErroPadrao([this] { Label6Click(); }); });
    // FormCreate.
    TProfileFile& config = F_Principal->Config();
    ui_->EditUsuario->setText(QString::fromStdString(config.ReadString("Config", "Usuario")));
    ui_->EditSenha->setText(QString::fromStdString(config.ReadString("Config", "Senha")));
}

TF_Usuario::~TF_Usuario() {
    if (F_Usuario == this) {
        F_Usuario = nullptr;
    }
}

QString TF_Usuario::Usuario() const {
    return ui_->EditUsuario->text();
}

QString TF_Usuario::Senha() const {
    return ui_->EditSenha->text();
}

void TF_Usuario::HabilitarEdicao(bool habilitar) {
    ui_->EditUsuario->setEnabled(habilitar);
    ui_->EditSenha->setEnabled(habilitar);
    ui_->ButConfirma->setEnabled(habilitar);
}

void TF_Usuario::Login(bool anunciarSucesso, bool relatarRecusa) {
    TConsultasParam& param = F_Principal->Param();
    TUsuarioLogin login(param.Proxy.Get(), TServidores::Load(ApplicationDir()));
    const TLoginResult r =
        login.Login(Usuario().toStdString(), Senha().toStdString(), anunciarSucesso, relatarRecusa);
    param.AplicarLogin(r);
    if (r.checkAtivado) {
        // Its click handler switches the edits and the shared Ativo.
        F_Principal->CheckAtivado()->setChecked(*r.checkAtivado);
    }
    if (r.editsEnabled) {
        ui_->EditUsuario->setEnabled(*r.editsEnabled);
        ui_->EditSenha->setEnabled(*r.editsEnabled);
    }
    if (r.info) {
        ShowInfo(*r.info);
    }
}

void TF_Usuario::ButConfirmaClick() {
    Login(false, true);
    if (F_Principal->CheckAtivado()->isChecked()) {
        close();
    }
}

void TF_Usuario::Label5Click() {
    AbrirEndereco(
        TUsuarioLogin(F_Principal->Param().Proxy.Get(), TServidores::Load(ApplicationDir()))
            .CadastroUrl());
}

void TF_Usuario::Label6Click() {
    F_ConfigProxy->exec();
}

void TF_Usuario::done(int resultado) {
    ComErroPadrao([this] {
        TProfileFile& config = F_Principal->Config();
        config.WriteString("Config", "Usuario", Usuario().toStdString());
        config.WriteString("Config", "Senha", Senha().toStdString());
    });
    ComErroPadrao([this] { Login(false, true); });
    QDialog::done(resultado);
    if (!F_Principal->CheckAtivado()->isChecked() && !Inicializando) {
        // Logged out outside the start-up: the program ends at once, without the main
        // window's closing steps.
        F_Principal->EncerrarAgora();
    }
}

}  // namespace quelvo
