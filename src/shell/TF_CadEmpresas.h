#pragma once

#include <QDialog>

#include <memory>

#include "monitor/TCadastroEmpresa.h"

namespace Ui {
class TF_CadEmpresas;
}

namespace quelvo {

// The company registration dialog: CNPJ, state, certificate and its password. "Confirmar" runs
// the registration rules (checks, a real test query, the confirmation) and adds the company to
// the registry; saving the registry is the main window's part.
class TF_CadEmpresas : public QDialog {
    Q_OBJECT
public:
    explicit TF_CadEmpresas(QWidget* parent = nullptr);
    ~TF_CadEmpresas() override;

    void EditCertificadoDigitalClick();
    void ButConfirmarClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LimparCampos();

    std::unique_ptr<Ui::TF_CadEmpresas> ui_;
};

extern TF_CadEmpresas* F_CadEmpresas;

}  // namespace quelvo
