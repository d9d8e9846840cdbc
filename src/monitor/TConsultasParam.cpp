#include "monitor/TConsultasParam.h"

#include "common/SafeFile.h"

namespace quelvo {

void TConsultasParam::CarregarListas(const std::string& appDir) {
    // A write cut short by a crash left its temporary file beside the file it was replacing.
    RemoveLeftoverTemporaries(appDir, {".dat"});
    RemoveLeftoverTemporaries(appDir + "certificados/", {".pfx", ".pem", ".dat"});
    if (FileExists(appDir + "Consultados.dat")) {
        Consultados.LoadFromFile(appDir + "Consultados.dat");
    }
    if (FileExists(appDir + "ConsultadosNums.dat")) {
        ConsultadosNums.LoadFromFile(appDir + "ConsultadosNums.dat");
    }
}

void TConsultasParam::SalvarListas(const std::string& appDir) const {
    ConsultadosNums.SaveToFile(appDir + "ConsultadosNums.dat");
    Consultados.SaveToFile(appDir + "Consultados.dat");
}

void TConsultasParam::RegistrarEnviado(const std::string& appDir, const std::string& chave,
                                       const std::string& queryKey) {
    ConsultadosNums.AddAndAppend(queryKey, appDir + "ConsultadosNums.dat");
    Consultados.AddAndAppend(chave, appDir + "Consultados.dat");
}

void TConsultasParam::SincronizarListas(const std::string& appDir) {
    ConsultadosNums.SyncAppends(appDir + "ConsultadosNums.dat");
    Consultados.SyncAppends(appDir + "Consultados.dat");
}

void TConsultasParam::AplicarLogin(const TLoginResult& login) {
    if (login.checkAtivado) {
        Ativo = *login.checkAtivado;
    }
    if (login.usuario) {
        Usuario.Set(*login.usuario);
    }
}

}  // namespace quelvo
