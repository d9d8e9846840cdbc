#include "dfe/TRetDistDFeInt.h"

#include <cstdint>

#include "common/TextCase.h"
#include "dfe/Compression.h"
#include "dfe/XmlText.h"

namespace quelvo {

namespace {

TpcnTipoAmbiente Ambiente(const std::string& text) {
    return text == "2" ? TpcnTipoAmbiente::taHomologacao : TpcnTipoAmbiente::taProducao;
}

TSituacaoNFe SituacaoDoResumo(const std::string& text) {
    if (text == "2") {
        return TSituacaoNFe::snDenegada;
    }
    return text == "3" ? TSituacaoNFe::snCancelada : TSituacaoNFe::snAutorizada;
}

// The party's CNPJ, or its CPF when it has no CNPJ.
std::string CnpjOuCpf(const TLeitor& l) {
    std::string v = l.ReadString("CNPJ");
    return v.empty() ? l.ReadString("CPF") : v;
}

void ReadResNFe(TLeitor& l, TresNFe& r) {
    r.chNFe = l.ReadString("chNFe");
    r.CNPJCPF = CnpjOuCpf(l);
    r.xNome = l.ReadString("xNome");
    r.IE = l.ReadString("IE");
    r.dhEmi = l.ReadDateTime("dhEmi");
    r.tpNF = l.ReadString("tpNF") == "1" ? TpcnTipoNFe::tnSaida : TpcnTipoNFe::tnEntrada;
    r.vNF = l.ReadDecimal("vNF");
    r.digVal = l.ReadString("digVal");
    r.dhRecbto = l.ReadDateTime("dhRecbto");
    r.nProt = l.ReadString("nProt");
    r.cSitNFe = SituacaoDoResumo(l.ReadString("cSitNFe"));
}

void ReadResEvento(TLeitor& l, TresEvento& r) {
    r.cOrgao = static_cast<int>(l.ReadInteger("cOrgao"));
    r.CNPJCPF = CnpjOuCpf(l);
    r.chNFe = l.ReadString("chNFe");
    r.dhEvento = l.ReadDateTime("dhEvento");
    r.tpEvento = l.ReadString("tpEvento");
    r.nSeqEvento = static_cast<uint8_t>(l.ReadInteger("nSeqEvento"));
    r.xEvento = l.ReadString("xEvento");
    r.dhRecbto = l.ReadDateTime("dhRecbto");
    r.nProt = l.ReadString("nProt");
}

// A full processed invoice fills the same summary fields.
void ReadNfeProc(TLeitor& l, TresNFe& r) {
    const std::string marker = "Id=\"NFe";
    if (!l.ExtractGroup(2, "infNFe").empty()) {
        const size_t at = l.Grupo.find(marker);
        if (at != std::string::npos) {
            r.chNFe = l.Grupo.substr(at + marker.size(), 44);
        }
    }
    if (!l.ExtractGroup(2, "emit").empty()) {
        r.CNPJCPF = CnpjOuCpf(l);
        r.xNome = l.ReadString("xNome");
        r.IE = l.ReadString("IE");
    }
    if (!l.ExtractGroup(2, "ide").empty()) {
        r.dhEmi = l.ReadDateTime("dhEmi");
        if (r.dhEmi.IsZero()) {
            r.dhEmi = l.ReadDate("dEmi");
        }
        r.tpNF = l.ReadString("tpNF") == "1" ? TpcnTipoNFe::tnSaida : TpcnTipoNFe::tnEntrada;
    }
    if (!l.ExtractGroup(2, "total").empty()) {
        r.vNF = l.ReadDecimal("vNF");
    }
    if (!l.ExtractGroup(2, "infProt").empty()) {
        r.digVal = l.ReadString("digVal");
        r.dhRecbto = l.ReadDateTime("dhRecbto");
        r.nProt = l.ReadString("nProt");
        switch (l.ReadInteger("cStat")) {
            case 100:
                r.cSitNFe = TSituacaoNFe::snAutorizada;
                break;
            case 110:
                r.cSitNFe = TSituacaoNFe::snDenegada;
                break;
            case 101:
                r.cSitNFe = TSituacaoNFe::snCancelada;
                break;
            default:
                break;
        }
    }
}

void ReadProcEvento(TLeitor& l, TprocEvento& p) {
    const std::string whole = l.Grupo;
    p.Id = l.ReadAttribute("Id");
    p.cOrgao = static_cast<int>(l.ReadInteger("cOrgao"));
    p.tpAmb = Ambiente(l.ReadString("tpAmb"));
    p.CNPJ = l.ReadString("CNPJ");
    p.chNFe = l.ReadString("chNFe");
    p.dhEvento = l.ReadDateTime("dhEvento");
    p.tpEvento = l.ReadString("tpEvento");
    p.nSeqEvento = static_cast<int>(l.ReadInteger("nSeqEvento"));
    p.verEvento = l.ReadString("verEvento");
    if (!l.ExtractGroup(2, "detEvento").empty()) {
        p.detEvento.versao = l.ReadAttribute("versao");
        p.detEvento.descEvento = l.ReadString("descEvento");
        p.detEvento.nProt = l.ReadString("nProt");
        p.detEvento.xJust = l.ReadString("xJust");
        if (!l.ExtractGroup(3, "CTe").empty()) {
            p.detEvento.CTe.chCTe = l.ReadString("chCTe");
            p.detEvento.CTe.modal = l.ReadString("modal");
            p.detEvento.CTe.dhEmi = l.ReadDateTime("dhEmi");
            p.detEvento.CTe.nProt = l.ReadString("nProt");
            p.detEvento.CTe.dhRecbto = l.ReadDateTime("dhRecbto");
        }
        if (!l.ExtractGroup(3, "emit").empty()) {
            p.detEvento.emit.CNPJ = l.ReadString("CNPJ");
            p.detEvento.emit.IE = l.ReadString("IE");
            p.detEvento.emit.xNome = l.ReadString("xNome");
        }
    }
    if (!l.ExtractGroup(2, "retEvento").empty()) {
        auto& r = p.retEvento;
        r.Id = l.ReadAttribute("Id");
        r.tpAmb = Ambiente(l.ReadString("tpAmb"));
        r.verAplic = l.ReadString("verAplic");
        r.cOrgao = static_cast<int>(l.ReadInteger("cOrgao"));
        r.cStat = static_cast<int>(l.ReadInteger("cStat"));
        r.xMotivo = l.ReadString("xMotivo");
        r.chNFe = l.ReadString("chNFe");
        r.tpEvento = l.ReadString("tpEvento");
        r.xEvento = l.ReadString("xEvento");
        r.nSeqEvento = static_cast<int>(l.ReadInteger("nSeqEvento"));
        r.CNPJDest = l.ReadString("CNPJDest");
        r.dhRegEvento = l.ReadDateTime("dhRegEvento");
        r.nProt = l.ReadString("nProt");
    }
    l.Grupo = whole;
}

}  // namespace

TpcnTipoSchema SchemaFromText(const std::string& text) {
    static const std::pair<const char*, TpcnTipoSchema> kTable[] = {
        {"resNFe_v1.00.xsd", TpcnTipoSchema::tsresNFe},
        {"resEvento_v1.00.xsd", TpcnTipoSchema::tsresEvento},
        {"procNFe_v1.00.xsd", TpcnTipoSchema::tsprocNFe},
        {"procNFe_v2.00.xsd", TpcnTipoSchema::tsprocNFe},
        {"procNFe_v3.10.xsd", TpcnTipoSchema::tsprocNFe},
        {"procEventoNFe_v1.00.xsd", TpcnTipoSchema::tsprocEventoNFe},
        {"procMDFe_v1.00.xsd", TpcnTipoSchema::tsprocMDFe},
        {"procEventoMDFe_v1.00.xsd", TpcnTipoSchema::tsprocEventoMDFe},
    };
    for (const auto& [name, schema] : kTable) {
        if (SameTextIgnoringCase(text, name)) {
            return schema;
        }
    }
    return TpcnTipoSchema::tsresNFe;
}

TresNFe LerResNFe(const std::string& xml) {
    TresNFe r;
    TLeitor doc;
    doc.Arquivo = xml;
    if (!doc.ExtractGroup(1, "resNFe").empty()) {
        ReadResNFe(doc, r);
    }
    return r;
}

bool TRetDistDFeInt::LerXml() {
    XML = Leitor.Arquivo;
    if (Leitor.ExtractGroup(1, "retDistDFeInt").empty()) {
        return false;
    }
    versao = Leitor.ReadAttribute("versao");
    tpAmb = Ambiente(Leitor.ReadString("tpAmb"));
    verAplic = Leitor.ReadString("verAplic");
    cStat = static_cast<int>(Leitor.ReadInteger("cStat"));
    xMotivo = Leitor.ReadString("xMotivo");
    dhResp = Leitor.ReadDateTime("dhResp");
    ultNSU = Leitor.ReadString("ultNSU");
    maxNSU = Leitor.ReadString("maxNSU");
    size_t position = 0;
    size_t inflated = 0;
    for (;;) {
        const std::string group = Leitor.ExtractNextGroup(2, "docZip", position);
        if (group.empty()) {
            break;
        }
        TdocZipCollectionItem& item = docZip.emplace_back();
        item.NSU = Leitor.ReadAttribute("NSU");
        item.schema = SchemaFromText(Leitor.ReadAttribute("schema"));
        item.InfZip = GunzipText(DecodeBase64(ContentBetween(group, ">", "</docZip")));
        inflated += item.InfZip.size();
        if (inflated > kMaxDocumentosBytes) {
            throw EDecompressionError("Os documentos da resposta passam do limite de " +
                                      std::to_string(kMaxDocumentosBytes >> 20) + " MB.");
        }

        TLeitor doc;
        doc.Arquivo = item.InfZip;
        if (!doc.ExtractGroup(1, "resNFe").empty()) {
            item.XML = doc.Grupo;
            ReadResNFe(doc, item.resNFe);
        }
        if (!doc.ExtractGroup(1, "resEvento").empty()) {
            item.XML = doc.Grupo;
            ReadResEvento(doc, item.resEvento);
        }
        if (!doc.ExtractGroup(1, "nfeProc").empty()) {
            item.XML = doc.Grupo;
            ReadNfeProc(doc, item.resNFe);
        }
        if (!doc.ExtractGroup(1, "procEventoNFe").empty()) {
            item.XML = doc.Grupo;
            ReadProcEvento(doc, item.procEvento);
        }
    }
    return true;
}

}  // namespace quelvo
