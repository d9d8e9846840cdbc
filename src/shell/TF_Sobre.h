#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TF_Sobre;
}

namespace quelvo {

// The about box: the product, the running executable's version and creation time, and what the
// program does.
class TF_Sobre : public QDialog {
    Q_OBJECT
public:
    explicit TF_Sobre(QWidget* parent = nullptr);
    ~TF_Sobre() override;

private:
    std::unique_ptr<Ui::TF_Sobre> ui_;
};

extern TF_Sobre* F_Sobre;

}  // namespace quelvo
