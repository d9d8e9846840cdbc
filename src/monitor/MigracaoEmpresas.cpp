#include "monitor/MigracaoEmpresas.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "common/SafeFile.h"
#include "monitor/TLegacyDataset.h"

namespace quelvo {

namespace {

// Renames without replacing an existing target; false when the rename did not happen.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing target.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

}  // namespace

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
        RenameNoReplace(legacy, appDir + "EmpresasAntigo.dat");
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string(e.what()) +
                                 "\r\nDesinstale o aplicativo e instale novamente.");
    }
    return inserted;
}

}  // namespace quelvo
