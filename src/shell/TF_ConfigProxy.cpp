#include "shell/TF_ConfigProxy.h"

#include "common/MessageBoxes.h"
#include "shell/TF_Principal.h"
#include "ui_TF_ConfigProxy.h"

namespace quelvo {

TF_ConfigProxy* F_ConfigProxy = nullptr;

TF_ConfigProxy::TF_ConfigProxy(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TF_ConfigProxy>()) {
    ui_->setupUi(this);
    setObjectName("F_ConfigProxy");
    setFixedSize(size());
    connect(ui_->ButCancelar, &QPushButton::clicked, this,
            [this] { ComErroPadrao([this] { ButCancelarClick(); }); });
    connect(ui_->ButSalvar, &QPushButton::clicked, this,
            [this] { ComErroPadrao([this] { ButSalvarClick(); }); });
    ProxyCancelar();
}

TF_ConfigProxy::~TF_ConfigProxy() {
    if (F_ConfigProxy == this) {
        F_ConfigProxy = nullptr;
    }
}

TProxyFields TF_ConfigProxy::Campos() const {
    return TProxyFields{
        ui_->EditServidor->text().toStdString(), ui_->EditPorta->text().toStdString(),
        ui_->EditUsuario->text().toStdString(), ui_->EditSenha->text().toStdString()};
}

void TF_ConfigProxy::Mostrar(const TProxyFields& campos) {
    ui_->EditServidor->setText(QString::fromStdString(campos.Servidor));
    ui_->EditPorta->setText(QString::fromStdString(campos.Porta));
    ui_->EditUsuario->setText(QString::fromStdString(campos.Usuario));
    ui_->EditSenha->setText(QString::fromStdString(campos.Senha));
}

void TF_ConfigProxy::ProxyCancelar() {
    Mostrar(TProxySettings::Cancelar(F_Principal->Config(), F_Principal->Param().Proxy));
}

void TF_ConfigProxy::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ComErroPadrao([this] { ProxyCancelar(); });
}

void TF_ConfigProxy::ButCancelarClick() {
    ProxyCancelar();
}

void TF_ConfigProxy::ButSalvarClick() {
    TProxyFields campos = Campos();
    // The port keeps only its digits, also when the user declines.
    struct MostrarNoFim {
        TF_ConfigProxy* dialogo;
        TProxyFields& campos;
        ~MostrarNoFim() { dialogo->Mostrar(campos); }
    } mostrar{this, campos};
    if (TProxySettings::Salvar(campos, F_Principal->Config(), F_Principal->Param().Proxy,
                               [](const std::string& q) { return Confirm(q); })) {
        accept();
    }
}

}  // namespace quelvo
