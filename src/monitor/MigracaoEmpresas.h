#pragma once

#include <string>

#include "monitor/TConsultasEmpresas.h"

namespace quelvo {

// Takes over the companies of the earlier version's "Empresas.dat" in the application folder:
// each row whose CNPJ is not registered yet is inserted (with an empty expiry date); when any
// was, the registry is saved to "Empresas2.dat" at once; then the legacy file is renamed
// "EmpresasAntigo.dat" (never over an existing file; a failed rename is silent, and the migration
// runs again at the next start, skipping what is registered) and made readable by its owner only,
// as it holds the certificate passwords in plain text.
// Any failure raises std::runtime_error with the cause, CR LF and
// "Desinstale o aplicativo e instale novamente."; the legacy file then stays in place.
// Returns the number of companies inserted.
int MigracaoEmpresas(TConsultasEmpresas& empresas, const std::string& appDir);

}  // namespace quelvo
