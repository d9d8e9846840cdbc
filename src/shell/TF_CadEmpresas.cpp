#include "shell/TF_CadEmpresas.h"

#include <QMouseEvent>
#include <QPixmap>

#include "certificates/CertificateAccess.h"
#include "common/MessageBoxes.h"
#include "common/Utils.h"
#include "shell/TF_Certificados.h"
#include "shell/TF_Principal.h"
#include "ui_TF_CadEmpresas.h"

namespace quelvo {

TF_CadEmpresas* F_CadEmpresas = nullptr;

TF_CadEmpresas::TF_CadEmpresas(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TF_CadEmpresas>()) {
    ui_->setupUi(this);
    setObjectName("F_CadEmpresas");
    setFixedSize(size());
    ui_->Image1->setPixmap(QPixmap(":/quelvo/logo.png"));
    ui_->ComboUF->setCurrentIndex(-1);
    ui_->EditCertificadoDigital->installEventFilter(this);
    connect(ui_->ButConfirmar, &QPushButton::clicked, this,
            [this] { ComErroPadrao([this] { ButConfirmarClick(); }); });
    // Enter in the password acts as "Confirmar".
    connect(ui_->EditCertSenha, &QLineEdit::returnPressed, this,
            [this] { ComErroPadrao([this] { ButConfirmarClick(); }); });
}

TF_CadEmpresas::~TF_CadEmpresas() {
    if (F_CadEmpresas == this) {
        F_CadEmpresas = nullptr;
    }
}

bool TF_CadEmpresas::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->EditCertificadoDigital && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        ComErroPadrao([this] { EditCertificadoDigitalClick(); });
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TF_CadEmpresas::EditCertificadoDigitalClick() {
    const TTravonCertificado escolhido =
        SelectCertificate(TCertificateStore::Default(),
                          TF_Certificados::Escolhedor(TCertificateStore::Default(), this));
    if (!escolhido.Serie.empty()) {
        ui_->EditCertificadoDigital->setText(QString::fromStdString(escolhido.Serie));
    }
}

void TF_CadEmpresas::LimparCampos() {
    ui_->EditCNPJ->clear();
    ui_->ComboUF->setCurrentIndex(-1);
    ui_->EditCertificadoDigital->setText(QString::fromUtf8(TCadastroEmpresa::kSemCertificado));
}

void TF_CadEmpresas::ButConfirmarClick() {
    using Tipo = TCadastroResultado::Tipo;
    using Foco = TCadastroResultado::Foco;
    TCadastroEmpresa cadastro(F_Principal->Param(), F_Principal->Schedule().Ambiente());
    const TCadastroResultado r =
        cadastro.Confirmar(TCadastroEntrada{ui_->EditCNPJ->text().toStdString(),
                                            ui_->ComboUF->currentText().toStdString(),
                                            ui_->EditCertificadoDigital->text().toStdString(),
                                            ui_->EditCertSenha->text().toStdString()},
                           [](const std::string& q) { return Confirm(q); });
    switch (r.tipo) {
        case Tipo::Recusado:
            ShowInfo(r.mensagem);
            if (r.foco == Foco::CNPJ) {
                ui_->EditCNPJ->setFocus();
            } else if (r.foco == Foco::UF) {
                ui_->ComboUF->setFocus();
            } else if (r.foco == Foco::Certificado) {
                ui_->EditCertificadoDigital->setFocus();
            }
            return;
        case Tipo::Erro:
            ShowError(r.mensagem);
            return;
        case Tipo::Desistiu:
            LimparCampos();
            return;
        case Tipo::FalhaInserir:
            ShowError(r.mensagem);
            LimparCampos();
            accept();
            return;
        case Tipo::Cadastrado:
            LimparCampos();
            accept();
            return;
    }
}

}  // namespace quelvo
