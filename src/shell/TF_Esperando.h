#pragma once

#include <QDialog>

#include <memory>

class QTimer;

namespace Ui {
class TF_Esperando;
}

namespace quelvo {

// The please-wait dialog of "Verificar Últimos 3 Meses": shown while a running cycle stops, it
// closes itself once no cycle runs (checked every half second), or earlier when the user closes
// it.
class TF_Esperando : public QDialog {
    Q_OBJECT
public:
    explicit TF_Esperando(QWidget* parent = nullptr);
    ~TF_Esperando() override;

    void Timer1Timer();
    void done(int resultado) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TF_Esperando> ui_;
    QTimer* Timer1 = nullptr;
};

extern TF_Esperando* F_Esperando;

}  // namespace quelvo
