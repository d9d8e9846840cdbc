#include "dfe/XmlText.h"

#include <gtest/gtest.h>

#include "dfe/Compression.h"

namespace quelvo {
namespace {

TEST(XmlText, SmallRoutines) {
    EXPECT_EQ(ElementContent(
                  "<s:Body><NFEDISTDFEINTERESSERESULT a=\"1\"><x/></nfeDistDFeInteresseResult>",
                  "nfeDistDFeInteresseResult"),
              "<x/>");
    EXPECT_EQ(ElementContent("<ns2:Result><y>1</y></ns2:Result>", "Result"), "<y>1</y>");
    EXPECT_EQ(ElementContent("<other/>", "Result"), "");
    EXPECT_EQ(ContentBetween("<docZip NSU=\"1\">QUJD</docZip>", ">", "</docZip"), "QUJD");
    EXPECT_EQ(ContentBetween("abc", "x", "y"), "");
    EXPECT_EQ(ZeroPadded(0, 15), "000000000000000");
    EXPECT_EQ(ZeroPadded(123, 15), "000000000000123");
    EXPECT_EQ(ZeroPadded(5, 2), "05");
    EXPECT_EQ(ZeroPadded(12345, 3), "345");
    EXPECT_EQ(EncodeFieldText("  Ação & <Cia>  \"x\"  'y' ", true, true),
              "Acao &amp; &lt;Cia&gt; &quot;x&quot; &#39;y&#39;");
    EXPECT_EQ(EncodeFieldText("a\tb\xe2\x82\xac", false, true),
              "a b");  // € becomes a blank, trimmed
    EXPECT_EQ(EncodeFieldText("  ç  ", false, false), "ç");
    EXPECT_EQ(DecodeEntities("A &amp;amp; B &lt;&#x41;&#xe7;&#xZZ;"), "A &amp; B <Aç&#xZZ;");
}

TEST(XmlText, CheckDigits) {
    for (const char* ok : {"11222333000181", "45997418000153", "60746948000112"}) {
        EXPECT_TRUE(ValidCNPJ(ok)) << ok;
    }
    for (const char* bad : {"11222333000182", "1122233300018", "1122233300018a", ""}) {
        EXPECT_FALSE(ValidCNPJ(bad)) << bad;
    }
    EXPECT_TRUE(ValidCPF("52998224725"));
    EXPECT_FALSE(ValidCPF("52998224726"));
    EXPECT_FALSE(ValidCPF("5299822472"));
}

TEST(XmlText, DecodeTextOfAnswers) {
    EXPECT_EQ(
        DecodeText("&lt;a&gt;S&atilde;o Jos&eacute; &amp;amp; &apos;x&apos;&lt;/a&gt;", true, true),
        "<a>São José &amp; 'x'</a>");
    EXPECT_EQ(DecodeText("\xe2\x98\x83", true, true), "?");
    EXPECT_EQ(DecodeText("<a & 'b'>", false, false), "&lt;a &amp; &#39;b&#39;&gt;");
}

TEST(Compression, Base64) {
    EXPECT_EQ(DecodeBase64("SGVsbG8="), "Hello");
    EXPECT_EQ(DecodeBase64("SGVs\r\nbG8"), "Hello");  // line breaks and missing fill skipped
    EXPECT_EQ(DecodeBase64("SGVsbA"), "Hell");
    EXPECT_EQ(DecodeBase64("S!G@V#s$b%G&8*="), "Hello");
    EXPECT_EQ(DecodeBase64(""), "");
    for (const std::string& s :
         std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xff\x10", 3)}) {
        EXPECT_EQ(DecodeBase64(EncodeBase64(s)), s);
    }
}

TEST(Compression, GzipFramingAndChecks) {
    const std::string text =
        "<resNFe versao=\"1.01\"><xNome>Concei\xc3\xa7\xc3\xa3o</xNome></resNFe>";
    const std::string gz = GzipText(text);
    EXPECT_EQ(GunzipText(gz), text);

    // Optional header fields are skipped as the flags say: extra, name, comment, header CRC.
    std::string withFields = gz.substr(0, 10);
    withFields[3] = 4 | 8 | 16 | 2;
    withFields += std::string("\x03\x00xyz", 5) + "nome.xml" + std::string(1, '\0') + "comentario" +
                  std::string(1, '\0') + "\x12\x34";
    withFields += gz.substr(10);
    EXPECT_EQ(GunzipText(withFields), text);

    const auto Corrupt = [&](size_t at, char value) {
        std::string bad = gz;
        bad[at] = value;
        return bad;
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"too short", gz.substr(0, 9)},
        {"bad magic", Corrupt(0, 0x1e)},
        {"not deflate", Corrupt(2, 7)},
        {"reserved flag", Corrupt(3, 32)},
        {"CRC mismatch", Corrupt(gz.size() - 8, static_cast<char>(gz[gz.size() - 8] ^ 1))},
        {"length mismatch", Corrupt(gz.size() - 4, static_cast<char>(gz[gz.size() - 4] + 1))},
        {"truncated deflate data", gz.substr(0, 14) + gz.substr(gz.size() - 8)},
        {"garbage deflate data",
         gz.substr(0, 10) + std::string(20, '\xff') + gz.substr(gz.size() - 8)},
    };
    for (const auto& c : cases) {
        try {
            GunzipText(c.bytes);
            ADD_FAILURE() << c.what;
        } catch (const EDecompressionError& e) {
            EXPECT_FALSE(std::string(e.what()).empty()) << c.what;
        }
    }
    // The output is bounded: by the limit (a small member that would inflate to far more
    // fails without inflating the rest) and by the length its own trailer tells.
    const std::string atLimit = GzipText(std::string(kMaxInflatedBytes, '\0'));
    EXPECT_EQ(GunzipText(atLimit).size(), kMaxInflatedBytes);
    const std::string bomb = GzipText(std::string(kMaxInflatedBytes + 1, '\0'));
    EXPECT_LT(bomb.size(), 20000u);
    const auto MessageOf = [](const std::string& gz, size_t limit) {
        try {
            GunzipText(gz, limit);
        } catch (const EDecompressionError& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    EXPECT_EQ(MessageOf(bomb, kMaxInflatedBytes), "Documento compactado acima do limite de 16 MB.");
    EXPECT_EQ(MessageOf(atLimit, 1 << 20), "Documento compactado acima do limite de 1 MB.");
    std::string liar = GzipText(std::string(2 << 20, 'a'));
    liar.replace(liar.size() - 4, 4, std::string("\xe8\x03\0\0", 4));  // says 1,000 bytes
    EXPECT_EQ(MessageOf(liar, kMaxInflatedBytes),
              "Documento compactado maior que o tamanho informado no seu arquivo gzip.");

    EXPECT_THROW(GunzipText(cases[4].bytes), EDecompressionError);
    try {
        GunzipText(cases[4].bytes);
    } catch (const EDecompressionError& e) {
        EXPECT_STREQ(e.what(), "data error");  // zlib's own text
    }
}

}  // namespace
}  // namespace quelvo
