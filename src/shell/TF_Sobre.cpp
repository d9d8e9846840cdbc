#include "shell/TF_Sobre.h"

#include <QPixmap>

#include "common/DateTime.h"
#include "common/TServidores.h"
#include "common/Utils.h"
#include "shell/TF_Principal.h"
#include "ui_TF_Sobre.h"

namespace quelvo {

TF_Sobre* F_Sobre = nullptr;

TF_Sobre::TF_Sobre(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TF_Sobre>()) {
    ui_->setupUi(this);
    setObjectName("F_Sobre");
    setFixedSize(size());
    ui_->ProgramIcon->setPixmap(QPixmap(":/quelvo/icone.png"));
    ui_->Memo1->setPlainText(QString::fromStdString(
        "Esse aplicativo tem a função de receber todas as \n"
        "chaves das notas emitidas dos CNPJs cadastrados e \n"
        "em seguida enviá-las para o site " +
        TServidores::Load(ApplicationDir()).Site + " e \nassim poder ser baixadas."));
    connect(ui_->OKButton, &QPushButton::clicked, this, &QDialog::accept);
    // Filled once: a failure leaves the built-in texts.
    ComErroPadrao([this] {
        const std::string exe = RunningExecutable();
        const TDateTime criacao = FileCreationTime(exe);
        ui_->Label1->setText(QString::fromStdString(FormatDateTime(criacao)));
        ui_->Version->setText(QString::fromStdString("Versão: " + FileVersion(exe)));
    });
}

TF_Sobre::~TF_Sobre() {
    if (F_Sobre == this) {
        F_Sobre = nullptr;
    }
}

}  // namespace quelvo
