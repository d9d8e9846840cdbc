#include "monitor/MigracaoEmpresas.h"

#include <stdexcept>

#include "common/SafeFile.h"
#include "monitor/TLegacyDataset.h"
#include "platform/Files.h"

namespace quelvo {

int MigracaoEmpresas(TConsultasEmpresas& empresas, const std::string& appDir) {
    const std::string legacy = appDir + "Empresas.dat";
    if (!FileExists(legacy)) {
        return 0;
    }
    int inserted = 0;
    try {
        const TLegacyDataset dataset = TLegacyDataset::Parse(ReadWholeFile(legacy));
        for (const auto& row : dataset.Rows()) {
            const std::string cnpj = TLegacyDataset::Value(row, "CNPJ");
            if (empresas.Localizar(cnpj) >= 0) {
                continue;
            }
            empresas.Inserir(
                cnpj, TLegacyDataset::Value(row, "UF"), TLegacyDataset::Value(row, "Empresa"),
                TLegacyDataset::Value(row, "Certificado"), TLegacyDataset::Value(row, "Senha"), "");
            ++inserted;
        }
        // Saved before the legacy file goes away, so that no company exists in memory alone.
        if (inserted > 0) {
            empresas.Salvar(appDir + "Empresas2.dat");
        }
        // The old file keeps the certificate passwords in plain text: for its owner only.
        if (RenameNoReplace(legacy, appDir + "EmpresasAntigo.dat")) {
            platform::MakeFileOwnerOnly(appDir + "EmpresasAntigo.dat");
        }
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(e.what()) +
                                 "\r\nDesinstale o aplicativo e instale novamente.");
    }
    return inserted;
}

}  // namespace quelvo
