#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"

namespace Ui {
class TF_Certificados;
}

namespace quelvo {

// The certificate chooser: every certificate of the store with its holder, serial number, expiry
// and where it is (a file of the store, or the token it sits on), and "Importar..." for a PKCS#12
// file (.pfx or .p12) and its password.
class TF_Certificados : public QDialog {
    Q_OBJECT
public:
    // Where the file and its password come from (a file dialog and a password box by default;
    // tests answer them). An empty file or no password cancels the import.
    static std::function<QString(QWidget*)> EscolherArquivo;
    static std::function<std::optional<QString>(QWidget*, const QString&)> PedirSenha;

    TF_Certificados(const TCertificateStore& store, std::vector<TCertificateChoice>& escolhas,
                    QWidget* parent = nullptr);
    ~TF_Certificados() override;

    // The chooser of the store: shows the dialog, returns the chosen line or -1.
    static CertificateChooser Escolhedor(const TCertificateStore& store, QWidget* parent);
    int Escolhida() const;

    void ButImportarClick();

private:
    void Preencher(const std::string& selecionar);

    std::unique_ptr<Ui::TF_Certificados> ui_;
    TCertificateStore store_;
    std::vector<TCertificateChoice>& escolhas_;
};

}  // namespace quelvo
