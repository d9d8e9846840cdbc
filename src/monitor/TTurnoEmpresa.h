#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dfe/ENFeRejeicao.h"
#include "dfe/TNFeClient.h"
#include "monitor/TConsultasEmpresas.h"
#include "monitor/TDescansos.h"
#include "monitor/TEnviosPendentes.h"

namespace quelvo {

class TConsultas;
struct TdocZipCollectionItem;
struct TresNFe;

// One company's turn in a cycle, on a thread of its cycle, with a fiscal client (and so a
// connection and a certificate) of its own: the national service's usage rules for its CNPJ (the
// rests, the budget of one-document queries, the stored ultNSU, the summaries still to send),
// the one-NSU walk or the sequential reading, the uploads, and the company's status and log
// lines. What it shares with the other turns (the seen-lists, the rule files, the synchronised
// calls) it reaches through its cycle.
class TTurnoEmpresa {
public:
    TTurnoEmpresa(TConsultas& ciclo, EmpresaPtr empresa);
    TTurnoEmpresa(const TTurnoEmpresa&) = delete;
    TTurnoEmpresa& operator=(const TTurnoEmpresa&) = delete;

    // The whole turn: from "Buscando..." to the end text or the error in the company's status.
    void Executar();

private:
    // The default mode: NSU 0 for maxNSU, then one NSU per query from maxNSU down.
    void Caminhada(int uf);
    // The sequential mode: distNSU from the stored ultNSU, up to 50 documents per answer, until
    // the service has nothing more; then the CNPJ rests.
    void Sequencial(int uf);
    // The summaries the sequential mode could not deliver yet, sent again without any query.
    void EnviarPendentes();
    // Handles the documents of the last answer to a consNSU of NSU `nsu`.
    void ProcessarDocumentos(long long nsu);
    // Records what a document needs when nothing is to be sent for it (a full invoice, an event,
    // a summary already handled), with query key d followed by n. False for a summary to send.
    bool RegistrarSemEnvio(const TdocZipCollectionItem& item, long long n);
    // Sends a summary unless another turn has (waiting for one that is sending it), and records
    // it when the site took it: on disk before the turn's next request. True when it is recorded.
    bool Entregar(const TresNFe& resumo, long long nsu);
    // One upload; true when the site took the summary ("OK", or "JA": it has it).
    bool EnviarChave(const TresNFe& resumo, int nsu);
    void RegistrarEnviado(const std::string& chave, const std::string& queryKey);
    // Puts the records of the turn's uploads on the disk before a request or a removal that
    // counts on them. False when the flush failed: shown as a failed save, and no more uploads.
    bool RegistrosNoDisco();
    // Counts a consNSU in the CNPJ's own budget before it is sent, and puts it and the records of
    // earlier uploads on the disk. False when the budget is used up (`limite_` then says until
    // when) or the records could not be flushed: the query must not be sent. Raises when the count
    // cannot be written.
    bool ReservarConsulta();
    // Empties the temp folder after a step that queried (a step over a recorded NSU writes
    // nothing there), and reports the step.
    void FimDoPasso(bool consultou);
    // The status and log lines of a turn that ended without a rejection.
    void Fim();
    // A 656: the company's turn ends, and its CNPJ rests.
    void ConsumoIndevido(const ENFeRejeicao& e);
    void Descansar(int cStat);
    void LogNovasNotas();
    // Logs, once, what the readers of the rule files left out of a damaged file.
    void AvisarArquivosDanificados();
    // A line of the turn: at once when turns run one at a time; else kept and written with the
    // turn's other lines as one block at its end.
    void Log(const std::string& text);
    bool Ativo() const;

    TConsultas& ciclo_;
    EmpresaPtr empresa_;
    std::string cnpj_;  // digits
    TNFeClient client_;
    int novasNotas_ = 0;
    int maxNSU_ = 0;
    int progresso_ = 0;
    // Upload attempts in a row that got no answer from the site (not a refusal: no answer).
    int falhasDeEnvio_ = 0;
    // The turn stopped at the CNPJ's own budget of consNSU queries: until when.
    std::optional<TDescansos::Descanso> limite_;
    // The turn read nothing from the service because this many summaries still wait to be sent.
    size_t retidos_ = 0;
    // The sequential reading stopped because the site did not answer: what it read waits.
    bool siteSemResposta_ = false;
    std::vector<std::string> bloco_;  // the lines kept for the end of the turn
};

}  // namespace quelvo
