#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/TConsultasEmpresa.h"

namespace quelvo {

using EmpresaPtr = std::shared_ptr<TConsultasEmpresa>;

// The company registry: records in insertion order, keyed by the CNPJ text as inserted (matched
// whole, ignoring letter case, first match wins; no duplicate check). Records are shared: one
// removed by Apagar stays valid for a worker that still holds it. Every operation takes the
// registry's lock for its own length only.
class TConsultasEmpresas {
public:
    TConsultasEmpresas() = default;
    TConsultasEmpresas(const TConsultasEmpresas&) = delete;
    TConsultasEmpresas& operator=(const TConsultasEmpresas&) = delete;

    void Inserir(const std::string& cnpj, const std::string& uf, const std::string& nome,
                 const std::string& certificadoDigital, const std::string& certSenha,
                 const std::string& vencimento);
    // Raises std::out_of_range for an index outside 0..count-1.
    void Apagar(int index);
    int Localizar(std::string_view cnpj) const;
    int Quantidade() const;
    // The record at the index; raises std::out_of_range outside 0..count-1.
    EmpresaPtr Item(int index) const;
    // The record at the index, or nothing when the registry has shrunk below it.
    EmpresaPtr ItemOrNull(int index) const;
    std::vector<EmpresaPtr> Itens() const;

    // Adds the records of an "Empresas2.dat" file. A missing file adds nothing; a file that
    // cannot be read or parsed shows the load error and adds nothing more. Such a file is moved
    // aside first ("Empresas2.dat.danificado-YYYYMMDD-HHMMSS", named in the message) so that no
    // later save overwrites it; when even that fails, Salvar refuses that path.
    void Carregar(const std::string& path);
    // Writes every record to an "Empresas2.dat" file, replacing it whole at once.
    // Raises std::runtime_error when the file cannot be written (or is a damaged file that
    // could not be moved aside).
    void Salvar(const std::string& path) const;

    // The XML document that Salvar writes.
    std::string ToXml() const;

    // The status texts an "Empresas2.dat" file holds (the last ones the program saved), as pairs
    // of CNPJ text and Situacao in file order. Carregar never reads them: a loaded record starts
    // without a status. Nothing for a file that is missing or cannot be read.
    static std::vector<std::pair<std::string, std::string>> SituacoesGravadas(
        const std::string& path);

private:
    mutable std::mutex mutex_;
    std::vector<EmpresaPtr> itens_;
    std::string protegido_;  // a damaged file that stayed in place: never written over
};

}  // namespace quelvo
