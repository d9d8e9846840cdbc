// The release signature: the keys the program takes, and tools/sign.sh, whose signatures the
// program must accept (and the other way round).
#include "monitor/TReleaseSignature.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/SafeFile.h"
#include "monitor/EUpdateRefused.h"
#include "support/ErrorOf.h"
#include "support/ReleaseKey.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::ReleaseKey;
using test::TempDir;

// Whether the program takes the bytes as signed with the key.
bool Aceita(const std::string& bytes, const std::string& pem) {
    return test::ErrorOf<EUpdateRefused>([&] { TReleaseSignature::Conferir(bytes, pem); }) ==
           "(no error)";
}

TEST(ReleaseSignature, OnlyAnEd25519PublicKeyIsAReleaseKey) {
    const ReleaseKey ed25519;
    const EvpPkeyPtr rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{1024}));
    const EvpPkeyPtr ed448(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED448"));
    const std::string naoEd25519 = "a chave pública de lançamento deste programa não é Ed25519";
    const struct {
        const char* what;
        std::string pem;
        std::string erro;
    } casos[] = {
        {"Ed25519", ed25519.PublicPem(), "(no error)"},
        {"none", "",
         "este programa foi compilado sem chave pública de lançamento e não aceita "
         "atualizações"},
        {"not PEM", "chave", naoEd25519},
        {"RSA", ReleaseKey::PublicPemOf(rsa.get()), naoEd25519},
        {"Ed448", ReleaseKey::PublicPemOf(ed448.get()), naoEd25519},
        {"the private half", ed25519.PrivatePem(), naoEd25519},
    };
    const std::string assinado = ed25519.Sign(
        "\x7f"
        "ELF imagem");
    for (const auto& c : casos) {
        EXPECT_EQ(test::ErrorOf<EUpdateRefused>([&] { TReleaseSignature::ConferirChave(c.pem); }),
                  c.erro)
            << c.what;
        // A key that is not one verifies nothing.
        EXPECT_EQ(Aceita(assinado, c.pem), c.erro == "(no error)") << c.what;
    }
    EXPECT_EQ(test::ErrorOf<EUpdateRefused>([&] { TReleaseSignature::Assinar("x", rsa.get()); }),
              "a chave de assinatura não é uma chave privada Ed25519");
    // The key this build carries (none unless the build was given one) can be used when present.
    const std::string_view doPrograma = TReleaseSignature::ChaveDoPrograma();
    if (!doPrograma.empty()) {
        EXPECT_NO_THROW(TReleaseSignature::ConferirChave(doPrograma));
    }
}

// tools/sign.sh with its arguments; its exit status (standard input from `entrada`).
int SignSh(const std::string& argumentos, const std::string& entrada = "/dev/null") {
    const int status = std::system(("'" + std::string(QUELVO_SIGN_SCRIPT) + "' " + argumentos +
                                    " <'" + entrada + "' >/dev/null 2>&1")
                                       .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The status and output of running an executable.
std::string Saida(const std::string& exe) {
    std::string out;
    FILE* p = ::popen(("'" + exe + "'").c_str(), "r");
    char buf[256];
    while (p != nullptr && std::fgets(buf, sizeof buf, p) != nullptr) {
        out += buf;
    }
    const int status = p != nullptr ? ::pclose(p) : -1;
    return status == 0 ? out : "status " + std::to_string(status);
}

TEST(ReleaseSignature, SignScriptRoundTrip) {
    TempDir dir;
    const ReleaseKey nossa;
    const ReleaseKey outra;
    const std::string privada = dir.File("release-private.pem");
    WriteFileAtomic(privada, nossa.PrivatePem(), 0600);
    const std::string publica = dir.Write("release-public.pem", nossa.PublicPem());
    const std::string outraPublica = dir.Write("other-public.pem", outra.PublicPem());
    const std::string original = ReadWholeFile(QUELVO_VERSIONED_STUB);
    const std::string exe = dir.File("quelvo");
    WriteFileAtomic(exe, original, 0751);
    const std::string args = "'" + exe + "' ";

    ASSERT_EQ(SignSh(args + "'" + publica + "'"), 1) << "signs with a public key";
    ASSERT_EQ(SignSh("'" + privada + "' " + args), 1) << "signs a key file";
    EXPECT_EQ(ReadWholeFile(exe), original);
    EXPECT_EQ(SignSh("--verify " + args + "'" + publica + "'"), 1) << "unsigned";

    ASSERT_EQ(SignSh(args + "'" + privada + "'"), 0);
    EXPECT_EQ(SignSh("--verify " + args + "'" + publica + "'"), 0);
    EXPECT_EQ(SignSh("--verify " + args + "'" + outraPublica + "'"), 1);
    EXPECT_NO_THROW(TReleaseSignature::ConferirArquivo(exe, nossa.PublicPem(), 1 << 30));
    const std::string assinado = ReadWholeFile(exe);
    EXPECT_EQ(assinado.size(), original.size() + TReleaseSignature::kTamanhoBloco);
    // Still the same program, finding its own version.
    EXPECT_EQ(Saida(exe), std::string(QUELVO_VERSION) + "\n");
    struct stat st {};
    ASSERT_EQ(::stat(exe.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_FALSE(std::filesystem::exists(dir.File(".quelvo.assinando")));

    // Signing again replaces the signature, with the key on standard input this time.
    ASSERT_EQ(SignSh(args + "-", privada), 0);
    EXPECT_EQ(ReadWholeFile(exe).size(), assinado.size());
    EXPECT_EQ(SignSh("--verify " + args + "'" + publica + "'"), 0);

    // The program's own signing and tools/sign.sh agree; a changed byte or a block of a wrong
    // length is no good signature for either.
    const struct {
        const char* what;
        std::string bytes;
        int status;
    } casos[] = {
        {"signed by the program", nossa.Sign(original), 0},
        {"one byte changed", std::string(assinado).replace(100, 1, 1, assinado[100] ^ 1), 1},
        {"a block one byte short",
         assinado.substr(0, original.size() + 16) + assinado.substr(original.size() + 17), 1},
    };
    for (const auto& c : casos) {
        WriteFileAtomic(exe, c.bytes, 0755);
        EXPECT_EQ(SignSh("--verify " + args + "'" + publica + "'"), c.status) << c.what;
        EXPECT_EQ(Aceita(c.bytes, nossa.PublicPem()), c.status == 0) << c.what;
    }
    EXPECT_EQ(SignSh("--verify " + args), 2) << "usage";
}

}  // namespace
}  // namespace quelvo
