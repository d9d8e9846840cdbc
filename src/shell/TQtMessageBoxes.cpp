#include "shell/TQtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "common/Utils.h"

namespace quelvo {

namespace {

// Texts keep CR LF line breaks; a label wants LF.
QString ParaTela(const std::string& text) {
    return QString::fromStdString(text).replace("\r\n", "\n").replace('\r', '\n');
}

// The button pressed: true for "Sim", false for "Não" or "OK" (Esc and the window's close button
// press "Não"); nothing when the box closed without any, as when the program ends.
std::optional<bool> Mostrar(QMessageBox::Icon icon, const std::string& text, bool pergunta) {
    QMessageBox box(icon, QString::fromUtf8(kAppTitle), ParaTela(text), QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton* sim = nullptr;
    if (pergunta) {
        sim = box.addButton(QStringLiteral("Sim"), QMessageBox::YesRole);
        box.setDefaultButton(box.addButton(QStringLiteral("Não"), QMessageBox::NoRole));
    } else {
        box.setDefaultButton(box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole));
    }
    box.exec();
    if (box.clickedButton() == nullptr) {
        return std::nullopt;
    }
    return sim != nullptr && box.clickedButton() == sim;
}

// Runs the box on the application's thread, waiting for it when called from another thread.
std::optional<bool> NaJanela(QMessageBox::Icon icon, const std::string& text, bool pergunta) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        return Mostrar(icon, text, pergunta);
    }
    std::optional<bool> answer;
    QMetaObject::invokeMethod(
        app, [&] { answer = Mostrar(icon, text, pergunta); }, Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace

void TQtMessageBoxes::Info(const std::string& text) {
    NaJanela(QMessageBox::Information, text, false);
}

void TQtMessageBoxes::Error(const std::string& text) {
    NaJanela(QMessageBox::Critical, text, false);
}

bool TQtMessageBoxes::Confirm(const std::string& text) {
    return NaJanela(QMessageBox::Question, text, true).value_or(false);
}

std::optional<bool> TQtMessageBoxes::ConfirmOrClose(const std::string& text) {
    return NaJanela(QMessageBox::Question, text, true);
}

}  // namespace quelvo
