#include "TDfeStandIn.h"

#include <charconv>

#include "dfe/Compression.h"

namespace quelvo::standin {

namespace {

std::string Between(const std::string& text, const std::string& a, const std::string& b) {
    const size_t start = text.find(a);
    if (start == std::string::npos) {
        return {};
    }
    const size_t end = text.find(b, start + a.size());
    return end == std::string::npos ? std::string()
                                    : text.substr(start + a.size(), end - start - a.size());
}

long long ToNumber(const std::string& s) {
    long long v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

std::string Nsu15(long long n) {
    std::string s = std::to_string(n);
    return std::string(s.size() < 15 ? 15 - s.size() : 0, '0') + s;
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string ResNFeXml(const ResumoNFe& r) {
    return "<resNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\"><chNFe>" +
           r.chNFe + "</chNFe><CNPJ>" + r.cnpjEmitente + "</CNPJ><xNome>" + Escape(r.xNome) +
           "</xNome><IE>" + r.ie + "</IE><dhEmi>" + r.dhEmi + "</dhEmi><tpNF>" + r.tpNF +
           "</tpNF><vNF>" + r.vNF + "</vNF><digVal>" + r.digVal + "</digVal><dhRecbto>" +
           r.dhRecbto + "</dhRecbto><nProt>" + r.nProt + "</nProt><cSitNFe>" + r.cSitNFe +
           "</cSitNFe></resNFe>";
}

std::string ResEventoXml(const std::string& chNFe, const std::string& cnpj,
                         const std::string& tpEvento, const std::string& xEvento) {
    return "<resEvento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\"><cOrgao>91"
           "</cOrgao><CNPJ>" +
           cnpj + "</CNPJ><chNFe>" + chNFe +
           "</chNFe><dhEvento>2026-11-04T09:00:00-03:00</dhEvento><tpEvento>" + tpEvento +
           "</tpEvento><nSeqEvento>1</nSeqEvento><xEvento>" + xEvento +
           "</xEvento><dhRecbto>2026-11-04T09:00:05-03:00</dhRecbto><nProt>891260000000002"
           "</nProt></resEvento>";
}

std::string NfeProcXml(const ResumoNFe& r, const std::string& cnpjDestinatario,
                       const std::string& cStat) {
    return "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><NFe><infNFe "
           "Id=\"NFe" +
           r.chNFe +
           "\" versao=\"4.00\"><ide><cUF>35</cUF><natOp>VENDA</natOp>"
           "<mod>55</mod><dhEmi>" +
           r.dhEmi + "</dhEmi><tpNF>" + r.tpNF + "</tpNF></ide><emit><CNPJ>" + r.cnpjEmitente +
           "</CNPJ><xNome>" + Escape(r.xNome) + "</xNome><IE>" + r.ie + "</IE></emit><dest><CNPJ>" +
           cnpjDestinatario + "</CNPJ><xNome>DESTINATARIO</xNome></dest><total><ICMSTot><vProd>" +
           r.vNF + "</vProd><vNF>" + r.vNF +
           "</vNF></ICMSTot></total></infNFe></NFe><protNFe "
           "versao=\"4.00\"><infProt><tpAmb>1</tpAmb><chNFe>" +
           r.chNFe + "</chNFe><dhRecbto>" + r.dhRecbto + "</dhRecbto><nProt>" + r.nProt +
           "</nProt><digVal>" + r.digVal + "</digVal><cStat>" + cStat +
           "</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo>"
           "</infProt></protNFe></nfeProc>";
}

std::string ProcEventoNFeXml(const std::string& chNFe, const std::string& cnpj) {
    return "<procEventoNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\"><evento "
           "versao=\"1.00\"><infEvento Id=\"ID110111" +
           chNFe +
           "01\"><cOrgao>35</cOrgao><tpAmb>1"
           "</tpAmb><CNPJ>" +
           cnpj + "</CNPJ><chNFe>" + chNFe +
           "</chNFe><dhEvento>2026-11-05T08:00:00-03:00</dhEvento><tpEvento>110111</tpEvento>"
           "<nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento><detEvento versao=\"1.00\">"
           "<descEvento>Cancelamento</descEvento><nProt>135260000000001</nProt><xJust>Erro na "
           "emissao</xJust></detEvento></infEvento></evento><retEvento versao=\"1.00\"><infEvento"
           " Id=\"ID135260000000009\"><tpAmb>1</tpAmb><verAplic>SP_EVENTOS</verAplic><cOrgao>35"
           "</cOrgao><cStat>135</cStat><xMotivo>Evento registrado</xMotivo><chNFe>" +
           chNFe +
           "</chNFe><tpEvento>110111</tpEvento><xEvento>Cancelamento</xEvento><nSeqEvento>1"
           "</nSeqEvento><dhRegEvento>2026-11-05T08:00:01-03:00</dhRegEvento><nProt>"
           "135260000000009</nProt></infEvento></retEvento></procEventoNFe>";
}

std::string DocZipContent(const std::string& xml) {
    return EncodeBase64(GzipText(xml));
}

TDfeStandIn::TDfeStandIn(const testpki::TestPki& pki, int port) {
    const auto server = pki.IssueServer();
    TStandInServer::Tls tls;
    tls.certificatePem = pki.ChainPem(server.cert.get());
    tls.keyPem = testpki::KeyPem(server.key.get());
    tls.clientCaPem = testpki::CertPem(pki.Root()) + testpki::CertPem(pki.Intermediate());
    server_ =
        std::make_unique<TStandInServer>([this](const Request& r) { return Handle(r); }, tls, port);
}

void TDfeStandIn::AddDocument(const std::string& cnpj, long long nsu, const std::string& xml,
                              const std::string& schema) {
    std::lock_guard lock(mutex_);
    parties_[cnpj].docs[nsu] = Doc{xml, schema};
}

void TDfeStandIn::SetMaxNsu(const std::string& cnpj, long long maxNsu) {
    std::lock_guard lock(mutex_);
    parties_[cnpj].maxNsu = maxNsu;
}

void TDfeStandIn::ScriptQuery(const std::string& cnpj, long long nsu, Script script, bool always) {
    std::lock_guard lock(mutex_);
    scripts_[{cnpj, nsu}] = {std::move(script), always, releases_.load()};
}

void TDfeStandIn::EnforceUsageRules(std::chrono::milliseconds hour) {
    std::lock_guard lock(mutex_);
    hour_ = hour;
}

void TDfeStandIn::SetClock(Clock clock) {
    std::lock_guard lock(mutex_);
    clock_ = std::move(clock);
}

TDfeStandIn::Usage TDfeStandIn::UsageOf(const std::string& cnpj) const {
    std::lock_guard lock(mutex_);
    const auto it = parties_.find(cnpj);
    return it == parties_.end() ? Usage{} : it->second.usage;
}

std::string TDfeStandIn::Refuse(Party& party, std::chrono::system_clock::time_point now,
                                const std::string& reason) {
    party.blockedUntil = now + *hour_;
    party.blockReason = reason;
    ++party.usage.consumoIndevido;
    queries_.back().consumoIndevido = true;
    return Answer("", 656, reason, party.lastUltNsu.value_or(0), 0, {});
}

std::optional<std::string> TDfeStandIn::CheckUsage(Party& party, bool cons, long long nsu) {
    if (!hour_) {
        return std::nullopt;
    }
    const auto now = clock_();
    ++party.usage.queries;
    if (party.blockedUntil) {
        if (now < *party.blockedUntil) {
            ++party.usage.duringBlock;
            return Refuse(party, now, party.blockReason);
        }
        // The block is over: the CNPJ starts afresh.
        party.blockedUntil.reset();
        party.lastUltNsu.reset();
        party.consNsu.clear();
    }
    if (cons) {
        while (!party.consNsu.empty() && party.consNsu.front() <= now - *hour_) {
            party.consNsu.pop_front();
        }
        if (party.consNsu.size() >= static_cast<size_t>(kConsultasPorHora)) {
            return Refuse(party, now, kMotivoLimiteConsultas);
        }
        party.consNsu.push_back(now);
        return std::nullopt;
    }
    if (party.distRestUntil && now < *party.distRestUntil) {
        return Refuse(party, now, kMotivoSemDocumentos);
    }
    if (party.lastUltNsu && nsu != 0 && nsu != *party.lastUltNsu) {
        return Refuse(party, now, kMotivoForaDeSequencia);
    }
    return std::nullopt;
}

std::vector<TDfeStandIn::Query> TDfeStandIn::Queries() const {
    std::lock_guard lock(mutex_);
    return queries_;
}

void TDfeStandIn::ClearQueries() {
    std::lock_guard lock(mutex_);
    queries_.clear();
}

std::string TDfeStandIn::Envelope(const std::string& retDistDFeInt) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
           "xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body><nfeDistDFeInteresseResponse "
           "xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeDistribuicaoDFe\">"
           "<nfeDistDFeInteresseResult>" +
           retDistDFeInt +
           "</nfeDistDFeInteresseResult></nfeDistDFeInteresseResponse></soap:Body></soap:Envelope>";
}

std::string TDfeStandIn::Answer(
    const std::string&, int cStat, const std::string& xMotivo, long long ultNsu, long long maxNsu,
    const std::vector<std::pair<long long, std::string>>& docZips) const {
    std::string ret =
        "<retDistDFeInt xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\">"
        "<tpAmb>1</tpAmb><verAplic>1.7.6</verAplic><cStat>" +
        std::to_string(cStat) + "</cStat><xMotivo>" + xMotivo +
        "</xMotivo><dhResp>2026-12-10T12:00:00-03:00</dhResp><ultNSU>" + Nsu15(ultNsu) +
        "</ultNSU><maxNSU>" + Nsu15(maxNsu) + "</maxNSU>";
    if (!docZips.empty()) {
        ret += "<loteDistDFeInt>";
        for (const auto& [nsu, docZip] : docZips) {
            ret += docZip;
        }
        ret += "</loteDistDFeInt>";
    }
    ret += "</retDistDFeInt>";
    return Envelope(ret);
}

Response TDfeStandIn::Handle(const Request& req) {
    Query q;
    const std::string& b = req.body;
    q.cnpj = Between(b, "<CNPJ>", "</CNPJ>");
    if (q.cnpj.empty()) {
        q.cnpj = Between(b, "<CPF>", "</CPF>");
    }
    q.nsu = Between(b, "<NSU>", "</NSU>");
    q.ultNSU = Between(b, "<ultNSU>", "</ultNSU>");
    q.versao = Between(b, "versao=\"", "\"");
    q.tpAmb = Between(b, "<tpAmb>", "</tpAmb>");
    q.cUFAutor = Between(b, "<cUFAutor>", "</cUFAutor>");
    q.certificateSerial = req.peerSerial;
    q.connection = req.connection;
    q.soapAction = req.Header("SOAPAction");
    q.contentType = req.Header("Content-Type");
    q.arrived = std::chrono::steady_clock::now();

    std::lock_guard lock(mutex_);
    queries_.push_back(q);
    const Response xml{200, "", {{"Content-Type", "application/soap+xml; charset=utf-8"}}, ""};
    if (q.versao != "1.01") {
        Response r = xml;
        r.body = Answer(q.cnpj, 215, "Rejeicao: Falha no schema XML", 0, 0, {});
        return r;
    }
    Party& party = parties_[q.cnpj];
    const long long highest = party.docs.empty() ? 0 : party.docs.rbegin()->first;
    const long long maxNsu = party.maxNsu.value_or(highest);
    const bool cons = b.find("<consNSU>") != std::string::npos;
    const long long nsu = ToNumber(cons ? q.nsu : q.ultNSU);
    if (auto refused = CheckUsage(party, cons, nsu)) {
        Response r = xml;
        r.delay = delay_;
        r.body = std::move(*refused);
        return r;
    }

    if (cons) {
        if (auto it = scripts_.find({q.cnpj, nsu}); it != scripts_.end()) {
            const Script s = it->second.script;
            const int releasesBefore = it->second.releases;
            if (!it->second.always) {
                scripts_.erase(it);
            }
            Response r = xml;
            switch (s.kind) {
                case Script::Kind::Status:
                    r.body = Answer(q.cnpj, s.cStat, s.xMotivo, 0, maxNsu, {});
                    return r;
                case Script::Kind::SoapFault:
                    r.status = 500;
                    r.body =
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope "
                        "xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
                        "<soap:Fault><soap:Code><soap:Value>soap:Receiver</soap:Value></soap:Code>"
                        "<soap:Reason><soap:Text xml:lang=\"pt\">Erro interno</soap:Text>"
                        "</soap:Reason></soap:Fault></soap:Body></soap:Envelope>";
                    return r;
                case Script::Kind::HtmlPage:
                    return Response{503,
                                    "",
                                    {{"Content-Type", "text/html"}},
                                    "<html><head><title> Servico Indisponivel </title></head>"
                                    "<body>Tente mais tarde</body></html>"};
                case Script::Kind::EmptyBody:
                    return Response{200, "", {}, ""};
                case Script::Kind::CorruptDocZip:
                    r.body = Answer(q.cnpj, 138, "Documento localizado", nsu, maxNsu,
                                    {{nsu, "<docZip NSU=\"" + Nsu15(nsu) +
                                               "\" schema=\"resNFe_v1.01.xsd\">H4sIAAAAAAAAA"
                                               "////corrupt====</docZip>"}});
                    return r;
                case Script::Kind::ZeroByte:
                    // A zero byte ends the text; what follows must not count.
                    r.body = Answer(q.cnpj, 137, "Nenhum documento localizado", 0, maxNsu, {}) +
                             std::string(1, '\0') + "<html><title>lixo</title></html>";
                    return r;
                case Script::Kind::Held:
                    r.holdUntil = [this, releasesBefore] {
                        return releases_.load() > releasesBefore;
                    };
                    r.body = Answer(q.cnpj, 137, "Nenhum documento localizado", 0, maxNsu, {});
                    return r;
                case Script::Kind::Slow:
                    r.delay = s.delay;
                    r.body = Answer(q.cnpj, 137, "Nenhum documento localizado", 0, maxNsu, {});
                    return r;
            }
        }
    }
    std::vector<std::pair<long long, std::string>> found;
    long long last = nsu;
    if (cons) {
        if (auto it = party.docs.find(nsu); it != party.docs.end()) {
            found.emplace_back(nsu, "<docZip NSU=\"" + Nsu15(nsu) + "\" schema=\"" +
                                        it->second.schema + "\">" + DocZipContent(it->second.xml) +
                                        "</docZip>");
        }
    } else {
        for (auto it = party.docs.upper_bound(nsu); it != party.docs.end() && found.size() < 50;
             ++it) {
            found.emplace_back(it->first, "<docZip NSU=\"" + Nsu15(it->first) + "\" schema=\"" +
                                              it->second.schema + "\">" +
                                              DocZipContent(it->second.xml) + "</docZip>");
            last = it->first;
        }
        if (found.empty()) {
            last = maxNsu;
        }
    }
    if (hour_ && !cons) {
        party.lastUltNsu = last;
        if (found.empty() || last >= maxNsu) {
            party.distRestUntil = clock_() + *hour_;
        }
    }
    Response r = xml;
    r.delay = delay_;
    r.body = found.empty() ? Answer(q.cnpj, 137, "Nenhum documento localizado", last, maxNsu, {})
                           : Answer(q.cnpj, 138, "Documento localizado", last, maxNsu, found);
    return r;
}

}  // namespace quelvo::standin
