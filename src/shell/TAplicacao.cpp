#include "shell/TAplicacao.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include "shell/TF_CadEmpresas.h"
#include "shell/TF_ConfigProxy.h"
#include "shell/TF_Esperando.h"
#include "shell/TF_Nota_Emitida.h"
#include "shell/TF_Principal.h"
#include "shell/TF_Sobre.h"
#include "shell/TF_Usuario.h"

// The pictures live in the shell's library; a static library must register them by hand.
static void RegistrarRecursos() {
    Q_INIT_RESOURCE(quelvo);
}

namespace quelvo {

namespace {

template <typename T, typename... Args>
std::unique_ptr<T> Criar(T*& global, Args&&... args) {
    auto form = std::make_unique<T>(std::forward<Args>(args)...);
    global = form.get();
    return form;
}

}  // namespace

TAplicacao::TAplicacao(const QStringList& argumentos) {
    RegistrarRecursos();
    // The windows were drawn for Tahoma; where it is missing, the metric twin of Arial comes
    // closer to it than the desktop's wide default.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), {QStringLiteral("Liberation Sans")});
    QApplication::setFont(QFont(QStringLiteral("Tahoma"), 8));
    principal_ = Criar(F_Principal, argumentos);
    cadEmpresas_ = Criar(F_CadEmpresas);
    configProxy_ = Criar(F_ConfigProxy);
    usuario_ = Criar(F_Usuario);
    sobre_ = Criar(F_Sobre);
    notaEmitida_ = Criar(F_Nota_Emitida);
    esperando_ = Criar(F_Esperando);
}

TAplicacao::~TAplicacao() {
    // In the reverse order of their creation: the dialogs before the window they refer to.
    esperando_.reset();
    notaEmitida_.reset();
    sobre_.reset();
    usuario_.reset();
    configProxy_.reset();
    cadEmpresas_.reset();
    principal_.reset();
}

void TAplicacao::Iniciar() {
    if (const QScreen* tela = QGuiApplication::primaryScreen()) {
        const QRect area = tela->availableGeometry();
        principal_->move(area.center() - principal_->rect().center());
    }
    principal_->showNormal();
}

}  // namespace quelvo
