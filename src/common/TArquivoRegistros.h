#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quelvo {

// A small text file that the program keeps in its folder: one record per line (CR LF), fields
// separated by ";", each record known by its first fields (the key). The file is read whole the
// first time it is needed. A record written (Gravar) is appended to the file at once, one write of
// whole lines (a later line of a key takes the place of the earlier one when the file is read), so
// that a cost of a change does not grow with the number of records; the file is written whole,
// atomically, when it has grown to twice what its records need, and for every other change. A last
// line without its line break is a write a crash cut short, and is left out. An append reaches the
// disk when the owner calls Sincronizar (a whole write is flushed as it is made).
//
// The reader is tolerant: a line that the owner's check refuses is left out, and so are the lines
// past the size limit of a file that grew beyond it (only the limit's worth is read); in both
// cases a copy of the file as it was is first kept beside it ("<name>.danificado-YYYYMMDD-HHMMSS",
// a new one each time) so that nothing is lost without a trace, and the other records stay in
// use. A file that cannot be read at all is never overwritten: every call raises until it can be
// read.
//
// The writer keeps to the same limit: a change that would make the file larger is not made, and
// the call raises. When a write fails for any other reason the change stays in memory for this
// run and the call raises.
//
// Safe to share between threads: each call holds the object's lock for its own length.
class TArquivoRegistros {
public:
    using Campos = std::vector<std::string>;
    using Verificador = std::function<bool(const Campos&)>;

    TArquivoRegistros(std::string path, size_t camposDaChave, Verificador valido,
                      size_t limiteBytes);
    TArquivoRegistros(const TArquivoRegistros&) = delete;
    TArquivoRegistros& operator=(const TArquivoRegistros&) = delete;

    const std::string& Caminho() const { return path_; }
    size_t Limite() const { return limite_; }

    // The record whose key (its first fields joined by ";") is `chave`, or nothing.
    std::optional<Campos> Buscar(const std::string& chave);
    // The records `filtro` accepts (every one without it), in file order: selected under the lock,
    // so that a caller after a few records never copies the whole file.
    std::vector<Campos> Registros(const std::function<bool(const Campos&)>& filtro = {});
    // How many records `filtro` accepts.
    size_t Contar(const std::function<bool(const Campos&)>& filtro);
    // Replaces the records with the same keys (in place) or appends them; then writes the file.
    void Gravar(const std::vector<Campos>& registros);
    // Removes the records with these keys; writes the file when one was there.
    void Apagar(const std::vector<std::string>& chaves);
    // Changes every record through `mudar` (which must keep the key) and writes the file.
    void Alterar(const std::function<void(Campos&)>& mudar);
    // Writes the file whole now when the last read left lines out of it (its copy as it was is
    // kept beside it), so that later readers find it sound and keep no copy of their own. Raises
    // when it cannot be written.
    void Reparar();
    // Puts the records appended since the last call on the disk (a file written whole is there
    // already): for what a later write, or a request, depends on. Raises when the flush fails.
    void Sincronizar();

    // What the reader left out of a damaged file, once; empty when there is nothing to say. Reads
    // the file first if needed (a file that cannot be read is left for the other calls to report).
    std::string TomarAviso();

    // The key of a record: its first `camposDaChave` fields joined by ";".
    std::string Chave(const Campos& registro) const;

    static constexpr char kSeparador = ';';
    // How far past twice its records' size a file may grow by appends before it is written whole.
    static constexpr size_t kFolgaDeAcrescimos = 64 << 10;

private:
    void CarregarLocked();
    // Applies a change to the records and writes them; see the class's comment for failures.
    void MudarLocked(const std::function<bool()>& mudar);
    void Indexar();

    const std::string path_;
    const size_t camposDaChave_;
    const Verificador valido_;
    const size_t limite_;

    // Writes the records whole, atomically; see the class's comment for failures.
    void ReescreverLocked(const std::vector<Campos>* antes);

    std::mutex mutex_;
    bool carregado_ = false;
    // What is on disk: its size, the size the records need, and whether the next change must
    // write the file whole (it holds lines left out, or a line cut short).
    size_t tamanhoArquivo_ = 0;
    size_t tamanhoVivo_ = 0;
    bool reescrever_ = false;
    bool porSincronizar_ = false;  // appended since the last flush
    std::vector<Campos> registros_;
    std::unordered_map<std::string, size_t> indice_;  // key -> position in registros_
    std::string aviso_;
};

}  // namespace quelvo
