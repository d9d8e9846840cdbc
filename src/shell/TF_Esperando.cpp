#include "shell/TF_Esperando.h"

#include <QTimer>

#include "shell/TF_Principal.h"
#include "ui_TF_Esperando.h"

namespace quelvo {

TF_Esperando* F_Esperando = nullptr;

TF_Esperando::TF_Esperando(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TF_Esperando>()) {
    ui_->setupUi(this);
    setObjectName("F_Esperando");
    setFixedSize(size());
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TF_Esperando::Timer1Timer);
}

TF_Esperando::~TF_Esperando() {
    if (F_Esperando == this) {
        F_Esperando = nullptr;
    }
}

void TF_Esperando::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Timer1->start();
}

void TF_Esperando::Timer1Timer() {
    if (!F_Principal->Param().Executando) {
        close();
    }
}

void TF_Esperando::done(int resultado) {
    Timer1->stop();
    QDialog::done(resultado);
}

}  // namespace quelvo
