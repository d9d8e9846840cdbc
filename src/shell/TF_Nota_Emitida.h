#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TF_Nota_Emitida;
}

namespace quelvo {

// The new-invoice pop-up: a small borderless window, always on top, in the bottom-right corner of
// the primary screen, saying from whom the latest invoice comes and for which company. It stays
// until the user clicks "X"; later invoices replace its texts.
class TF_Nota_Emitida : public QWidget {
    Q_OBJECT
public:
    explicit TF_Nota_Emitida(QWidget* parent = nullptr);
    ~TF_Nota_Emitida() override;

    // Shows (or updates) the pop-up when "Mostrar Notificação" is checked.
    void Abrir(const QString& de, const QString& para);
    void LabSairClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TF_Nota_Emitida> ui_;
};

extern TF_Nota_Emitida* F_Nota_Emitida;

}  // namespace quelvo
