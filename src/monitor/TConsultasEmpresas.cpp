#include "monitor/TConsultasEmpresas.h"

#include <pugixml.hpp>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "common/MessageBoxes.h"
#include "common/SafeFile.h"
#include "common/TextCase.h"

namespace quelvo {

namespace {

constexpr const char* kLoadError =
    "Erro ao carregar as empresas, vai ser necessário reinstalar o aplicativo.\r\n";

std::string ChildText(const pugi::xml_node& node, const char* name) {
    return node.child(name).text().get();
}

}  // namespace

void TConsultasEmpresas::Inserir(const std::string& cnpj, const std::string& uf,
                                 const std::string& nome, const std::string& certificadoDigital,
                                 const std::string& certSenha, const std::string& vencimento) {
    auto record = std::make_shared<TConsultasEmpresa>(cnpj, uf, nome, certificadoDigital, certSenha,
                                                      vencimento);
    std::lock_guard lock(mutex_);
    itens_.push_back(std::move(record));
}

void TConsultasEmpresas::Apagar(int index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= itens_.size()) {
        throw std::out_of_range("Índice de empresa fora dos limites: " + std::to_string(index));
    }
    itens_.erase(itens_.begin() + index);
}

int TConsultasEmpresas::Localizar(std::string_view cnpj) const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < itens_.size(); ++i) {
        if (SameTextIgnoringCase(itens_[i]->CNPJ(), cnpj)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int TConsultasEmpresas::Quantidade() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(itens_.size());
}

EmpresaPtr TConsultasEmpresas::Item(int index) const {
    auto record = ItemOrNull(index);
    if (!record) {
        throw std::out_of_range("Índice de empresa fora dos limites: " + std::to_string(index));
    }
    return record;
}

EmpresaPtr TConsultasEmpresas::ItemOrNull(int index) const {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= itens_.size()) {
        return nullptr;
    }
    return itens_[static_cast<size_t>(index)];
}

std::vector<EmpresaPtr> TConsultasEmpresas::Itens() const {
    std::lock_guard lock(mutex_);
    return itens_;
}

void TConsultasEmpresas::Carregar(const std::string& path) {
    if (!FileExists(path)) {
        return;
    }
    try {
        const std::string bytes = ReadWholeFile(path);
        pugi::xml_document doc;
        const auto result =
            doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
        if (!result) {
            throw std::runtime_error(std::string(result.description()) + " (posição " +
                                     std::to_string(result.offset) + ")");
        }
        const pugi::xml_node empresas = doc.document_element().child("empresas");
        for (const pugi::xml_node empresa : empresas.children()) {
            if (empresa.type() != pugi::node_element) {
                continue;
            }
            Inserir(ChildText(empresa, "CNPJ"), ChildText(empresa, "UF"),
                    ChildText(empresa, "Nome"), ChildText(empresa, "CertificadoDigital"),
                    ChildText(empresa, "CertSenha"), ChildText(empresa, "Vencimento"));
        }
    } catch (const std::exception& e) {
        // What could not be read is never written over: the next save would keep only what was
        // read. The file goes aside before anything can save, and the user learns where.
        std::string message = kLoadError + std::string(e.what());
        try {
            message += "\r\nO arquivo danificado foi guardado como " +
                       SetAsideFile(path, "danificado") + ".";
        } catch (const std::system_error& aside) {
            {
                std::lock_guard lock(mutex_);
                protegido_ = path;
            }
            message += "\r\nNão foi possível guardar à parte o arquivo danificado " + path + " (" +
                       aside.code().message() +
                       "); as empresas não serão gravadas nele até que seja corrigido ou removido.";
        }
        ShowError(message);
    }
}

std::vector<std::pair<std::string, std::string>> TConsultasEmpresas::SituacoesGravadas(
    const std::string& path) {
    std::vector<std::pair<std::string, std::string>> out;
    if (!FileExists(path)) {
        return out;
    }
    try {
        const std::string bytes = ReadWholeFile(path);
        pugi::xml_document doc;
        if (!doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default,
                             pugi::encoding_utf8)) {
            return out;
        }
        for (const pugi::xml_node empresa : doc.document_element().child("empresas").children()) {
            if (empresa.type() != pugi::node_element) {
                continue;
            }
            out.emplace_back(ChildText(empresa, "CNPJ"), ChildText(empresa, "Situacao"));
        }
    } catch (const std::exception&) {
        out.clear();
    }
    return out;
}

std::string TConsultasEmpresas::ToXml() const {
    pugi::xml_document doc;
    pugi::xml_node empresas = doc.append_child("empresascadastradas").append_child("empresas");
    for (const auto& record : Itens()) {
        pugi::xml_node empresa = empresas.append_child("empresa");
        const std::pair<const char*, std::string> fields[] = {
            {"CNPJ", record->CNPJ()},
            {"UF", record->UF()},
            {"Nome", record->Nome()},
            {"CertificadoDigital", record->CertificadoDigital()},
            {"CertSenha", record->CertSenha()},
            {"Situacao", record->Situacao()},
            {"Vencimento", record->Vencimento()},
        };
        for (const auto& [name, value] : fields) {
            pugi::xml_node field = empresa.append_child(name);
            if (!value.empty()) {
                field.text().set(value.c_str());
            }
        }
    }
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
    return out.str();
}

void TConsultasEmpresas::Salvar(const std::string& path) const {
    {
        std::lock_guard lock(mutex_);
        if (!protegido_.empty() && protegido_ == path) {
            throw std::runtime_error("Não foi possível gravar o arquivo " + path +
                                     ": o arquivo existente está danificado e não foi guardado "
                                     "à parte.");
        }
    }
    try {
        WriteFileAtomic(path, ToXml());  // owner-only: it holds the certificate passwords
    } catch (const std::system_error& e) {
        throw std::runtime_error("Não foi possível gravar o arquivo " + path + ": " +
                                 e.code().message());
    }
}

}  // namespace quelvo
