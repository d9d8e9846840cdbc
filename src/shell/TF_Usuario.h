#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TF_Usuario;
}

namespace quelvo {

// The site login dialog: the user name and password of the Travon site, stored in "Config.dat"
// whenever the dialog closes and checked against the site. Closing it while logged out, outside
// the program's start-up, ends the program.
class TF_Usuario : public QDialog {
    Q_OBJECT
public:
    // Reads the stored user name and password into the edits.
    explicit TF_Usuario(QWidget* parent = nullptr);
    ~TF_Usuario() override;

    // Set only while the main window's start-up login runs.
    bool Inicializando = false;

    // Checks the edits against the site and mirrors the outcome in "Ativado".
    void Login(bool anunciarSucesso, bool relatarRecusa);
    // The edits and "Confirma" are editable exactly while "Ativado" is unchecked.
    void HabilitarEdicao(bool habilitar);
    QString Usuario() const;
    QString Senha() const;

    void ButConfirmaClick();
    void Label5Click();
    void Label6Click();

    // Every way the dialog closes (Confirma, Esc, the close button) ends here: FormClose.
    void done(int resultado) override;

private:
    std::unique_ptr<Ui::TF_Usuario> ui_;
};

extern TF_Usuario* F_Usuario;

}  // namespace quelvo
