#pragma once

#include <QDialog>

#include <memory>

#include "site/TProxySettings.h"

namespace Ui {
class TF_ConfigProxy;
}

namespace quelvo {

// The proxy dialog: server, port, user and password of an HTTP proxy, kept in section "Proxy" of
// "Config.dat" and copied into the shared state, from where every request takes them.
class TF_ConfigProxy : public QDialog {
    Q_OBJECT
public:
    // Its creation loads the stored proxy into the shared state.
    explicit TF_ConfigProxy(QWidget* parent = nullptr);
    ~TF_ConfigProxy() override;

    // The stored values into the edits and the shared proxy.
    void ProxyCancelar();
    void ButCancelarClick();
    void ButSalvarClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TProxyFields Campos() const;
    void Mostrar(const TProxyFields& campos);

    std::unique_ptr<Ui::TF_ConfigProxy> ui_;
};

extern TF_ConfigProxy* F_ConfigProxy;

}  // namespace quelvo
