#include "shell/TF_Certificados.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>

#include "common/MessageBoxes.h"
#include "shell/TF_Principal.h"
#include "ui_TF_Certificados.h"

namespace quelvo {

std::function<QString(QWidget*)> TF_Certificados::EscolherArquivo = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Importar certificado digital"),
                                        QString(),
                                        QStringLiteral("Certificado digital (*.pfx *.p12)"));
};

std::function<std::optional<QString>(QWidget*, const QString&)> TF_Certificados::PedirSenha =
    [](QWidget* parent, const QString& arquivo) -> std::optional<QString> {
    bool ok = false;
    const QString senha = QInputDialog::getText(
        parent, QStringLiteral("Senha do certificado digital"),
        QStringLiteral("Senha do arquivo %1:").arg(QFileInfo(arquivo).fileName()),
        QLineEdit::Password, QString(), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return senha;
};

TF_Certificados::TF_Certificados(const TCertificateStore& store,
                                 std::vector<TCertificateChoice>& escolhas, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::TF_Certificados>()),
      store_(store),
      escolhas_(escolhas) {
    ui_->setupUi(this);
    setObjectName("F_Certificados");
    ui_->ListaCertificados->header()->setSectionsClickable(false);
    connect(ui_->ButOK, &QPushButton::clicked, this, [this] {
        if (Escolhida() >= 0) {
            accept();
        }
    });
    connect(ui_->ButCancelar, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui_->ListaCertificados, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(ui_->ButImportar, &QPushButton::clicked, this,
            [this] { ComErroPadrao([this] { ButImportarClick(); }); });
    Preencher({});
}

TF_Certificados::~TF_Certificados() = default;

void TF_Certificados::Preencher(const std::string& selecionar) {
    QTreeWidget* lista = ui_->ListaCertificados;
    lista->clear();
    for (const auto& e : escolhas_) {
        // A certificate on a token (A3) is marked with the token's name; the others are files
        // of the store (A1).
        const QString local = e.Token.empty()
                                  ? QStringLiteral("Arquivo")
                                  : QStringLiteral("Token %1").arg(QString::fromStdString(e.Token));
        auto* item = new QTreeWidgetItem(
            lista, {QString::fromStdString(e.Titular), QString::fromStdString(e.Serie),
                    QString::fromStdString(FormatShortDate(e.Vencimento)), local});
        if (e.Serie == selecionar) {
            lista->setCurrentItem(item);
        }
    }
    if (lista->currentItem() == nullptr && lista->topLevelItemCount() > 0) {
        lista->setCurrentItem(lista->topLevelItem(0));
    }
    for (int c = 0; c < lista->columnCount(); ++c) {
        lista->resizeColumnToContents(c);
    }
}

int TF_Certificados::Escolhida() const {
    QTreeWidgetItem* item = ui_->ListaCertificados->currentItem();
    return item == nullptr ? -1 : ui_->ListaCertificados->indexOfTopLevelItem(item);
}

void TF_Certificados::ButImportarClick() {
    const QString arquivo = EscolherArquivo(this);
    if (arquivo.isEmpty()) {
        return;
    }
    const auto senha = PedirSenha(this, arquivo);
    if (!senha) {
        return;
    }
    try {
        const TCertificate cert = store_.Import(arquivo.toStdString(), senha->toStdString());
        escolhas_ = CertificateChoices(store_);
        Preencher(cert.SerialNumber());
    } catch (const ECertificateError& e) {
        // A wrong password or a file that is no certificate: the user may try again.
        ShowInfo(e.what());
    }
}

CertificateChooser TF_Certificados::Escolhedor(const TCertificateStore& store, QWidget* parent) {
    return [store, parent](std::vector<TCertificateChoice>& escolhas) {
        TF_Certificados dialogo(store, escolhas, parent);
        return dialogo.exec() == QDialog::Accepted ? dialogo.Escolhida() : -1;
    };
}

}  // namespace quelvo
