#include "shell/TF_Nota_Emitida.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>

#include "shell/TF_Principal.h"
#include "ui_TF_Nota_Emitida.h"

namespace quelvo {

TF_Nota_Emitida* F_Nota_Emitida = nullptr;

TF_Nota_Emitida::TF_Nota_Emitida(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ui_(std::make_unique<Ui::TF_Nota_Emitida>()) {
    ui_->setupUi(this);
    setObjectName("F_Nota_Emitida");
    setFixedSize(220, 76);
    // A notice must not take the keyboard from what the user is doing.
    setAttribute(Qt::WA_ShowWithoutActivating);
    ui_->Image1->setPixmap(QPixmap(":/quelvo/icone.png"));
    ui_->LabSair->installEventFilter(this);
}

TF_Nota_Emitida::~TF_Nota_Emitida() {
    if (F_Nota_Emitida == this) {
        F_Nota_Emitida = nullptr;
    }
}

void TF_Nota_Emitida::Abrir(const QString& de, const QString& para) {
    if (F_Principal == nullptr || !F_Principal->CheckMostrarNotificacao()->isChecked()) {
        return;
    }
    ui_->LabDe->setText(de);
    ui_->LabPara->setText(para);
    if (!isVisible()) {
        show();
    }
}

void TF_Nota_Emitida::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // 5 pixels from the right edge, 40 above the bottom: clear of a usual task bar.
    if (const QScreen* tela = QGuiApplication::primaryScreen()) {
        const QRect r = tela->geometry();
        move(r.x() + r.width() - width() - 5, r.y() + r.height() - height() - 40);
    }
}

bool TF_Nota_Emitida::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->LabSair && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        LabSairClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TF_Nota_Emitida::LabSairClick() {
    hide();
}

}  // namespace quelvo
