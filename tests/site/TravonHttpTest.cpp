#include "site/TTravonHttp.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "TSiteStandIn.h"
#include "TStandInServer.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"
#include "support/TinyProxy.h"

namespace quelvo {
namespace {

const auto ErrorOf = test::ErrorOf<ETravonHttpError>;

using standin::Request;
using standin::Response;
using standin::TStandInServer;

// A server that answers every request with the same response.
struct Fixed {
    Response response;
    TStandInServer server{[this](const Request&) { return response; }};
    std::string Url(const std::string& path) const { return server.BaseUrl() + path; }
};

TEST(TravonHttpUrl, ParseURL) {
    struct Case {
        const char* url;
        const char* host;
        int port;
        const char* path;
        const char* scheme;
    };
    const Case cases[] = {
        {"HTTPS://Host/a?b=1", "Host", 443, "/a?b=1", "https://"},
        {"http://www.travon.com.br", "www.travon.com.br", 80, "", "http://"},
        {"http://host:8080/x/y", "host:8080", 80, "/x/y", "http://"},
        {"hTTp://h/", "h", 80, "/", "http://"},
    };
    for (const auto& c : cases) {
        const auto u = ParseURL(c.url);
        EXPECT_EQ(u.Host, c.host) << c.url;
        EXPECT_EQ(u.Port, c.port) << c.url;
        EXPECT_EQ(u.Path, c.path) << c.url;
        EXPECT_EQ(u.Scheme, c.scheme) << c.url;
        EXPECT_EQ(u.Text, c.url);
    }
    EXPECT_EQ(ErrorOf([] { ParseURL("ftp://host/x"); }),
              "Não foi possivél reconhecer o tipo da URL http ou https. Em \r\nftp://host/x");
    TTravonHttp http;
    EXPECT_EQ(ErrorOf([&] { http.GetText("host/sem-esquema"); }),
              "Não foi possivél reconhecer o tipo da URL http ou https. Em \r\nhost/sem-esquema");
}

TEST(TravonHttpUrl, TextHelpers) {
    EXPECT_EQ(ErrorText(12002), "Erro HTTP ERROR INTERNET TIMEOUT");
    EXPECT_EQ(ErrorText(12029), "Erro HTTP ERROR INTERNET CANNOT CONNECT");
    EXPECT_EQ(ErrorText(12111), "Erro HTTP ERROR FTP DROPPED");
    EXPECT_EQ(ErrorText(12138), "Erro HTTP ERROR GOPHER UNKNOWN LOCATOR");
    EXPECT_EQ(ErrorText(12168), "Erro HTTP ERROR HTTP REDIRECT NEEDS CONFIRMATION");
    EXPECT_EQ(ErrorText(0), "Erro HTTP não previsto.");
    EXPECT_EQ(ErrorText(12034), "Erro HTTP não previsto.");

    EXPECT_EQ(FormEncode("hash"), "hash");
    EXPECT_EQ(FormEncode("a b*@._-$!'()/\"&"), "a+b*@._-$!'()%2F%22%26");
    EXPECT_EQ(FormEncode("ação"), "a%E7%E3o");

    const std::string r = RandomText(15);
    EXPECT_EQ(r.size(), 15u);
    EXPECT_EQ(r.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
    EXPECT_NE(RandomText(15), RandomText(15));

    struct Case {
        std::string bytes;
        bool decode;
        std::string text;
    };
    const Case cases[] = {
        {"", true, ""},
        {"OK", false, "OK"},
        {"\xe7", false, "\xc3\xa7"},                     // Windows-1252 byte
        {"\xc3\xa7\xc3\xa3", true, "\xc3\xa7\xc3\xa3"},  // UTF-8 decoded
        {"\xc3\xa7", false, "\xc3\x83\xc2\xa7"},         // UTF-8 bytes read as Windows-1252
        {"\xEF\xBB\xBFOK", false, "OK"},                 // the byte-order mark switches decoding on
        {"\xEF\xBB\xBF\xe2\x98\x83", false, "?"},        // outside Windows-1252
        {"\xEF\xBB", true, "??"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamToText(c.bytes, c.decode), c.text);
    }
}

TEST(TravonHttp, SendsItsOwnHeadersInOrder) {
    Fixed site;
    site.response.body = "corpo";
    TTravonHttp http;
    EXPECT_EQ(http.GetText(site.Url("/a/b?c=1&d=x y")), "corpo");
    auto requests = site.server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(
        requests[0].head,
        "GET /a/b?c=1&d=x%20y HTTP/1.1\r\n"
        "Host: " +
            site.server.HostPort() +
            "\r\n"
            "User-Agent: " +
            TTravonHttpRequest{}.UserAgent +
            "\r\n"
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,*/*;q=0.8\r\n"
            "Accept-Language: pt-BR,pt;q=0.8,en-US;q=0.6,en;q=0.4\r\n\r\n");

    // A multipart post: Content-Type first (it got its value first), then the others.
    TTravonHttp post;
    post.SetMultiPart(true);
    std::istringstream content(std::string("\x00\x01\xff", 3));
    post.AddFileField("hash", "hash", content);
    EXPECT_EQ(post.PostText(site.Url("/chaves.php")), "corpo");
    requests = site.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string boundary = post.Boundary();
    ASSERT_EQ(boundary.size(), 42u);
    EXPECT_EQ(boundary.substr(0, 27), std::string(27, '-'));
    const std::string body =
        "--" + boundary + "\r\n" +
        "Content-Disposition: form-data; name=\"hash\"; filename=\"hash\"\r\n" +
        "Content-Type: application/octet-stream\r\n\r\n" + std::string("\x00\x01\xff", 3) + "\r\n" +
        "--" + boundary + "--\r\n";
    EXPECT_EQ(requests[1].body, body);
    EXPECT_EQ(
        requests[1].head,
        "POST /chaves.php HTTP/1.1\r\n"
        "Host: " +
            site.server.HostPort() +
            "\r\n"
            "User-Agent: " +
            TTravonHttpRequest{}.UserAgent +
            "\r\n"
            "Content-Type: multipart/form-data; boundary=" +
            boundary +
            "\r\n"
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,*/*;q=0.8\r\n"
            "Accept-Language: pt-BR,pt;q=0.8,en-US;q=0.6,en;q=0.4\r\n"
            "Content-Length: " +
            std::to_string(body.size()) + "\r\n\r\n");
}

TEST(TravonHttp, StatusRules) {
    struct Case {
        int status;
        std::string expected;  // the text, or the error message
    };
    Fixed site;
    const std::string url = site.Url("/x");
    const Case cases[] = {
        {200, "corpo"},
        {302, "corpo"},  // not followed: its body is the answer
        {303, "corpo"},
        {404, "Erro HTTP não previsto. Response:404\r\nURL: " + url},
        {500, "Erro HTTP não previsto. Response:500\r\nURL: " + url},
        {407, "Erro HTTP não previsto. Response:407\r\nURL: " + url +
                  "\r\nPor favor verifique as configurações de usuário e senha do proxy."},
        {301, "Erro HTTP não previsto. Response:301\r\nURL: " + url},
    };
    for (const auto& c : cases) {
        site.server.ClearRequests();
        site.response = Response{c.status, "", {{"Location", site.Url("/outro")}}, "corpo"};
        TTravonHttp http;
        std::string got;
        try {
            got = http.GetText(url);
        } catch (const ETravonHttpError& e) {
            got = e.what();
        }
        EXPECT_EQ(got, c.expected) << c.status;
        EXPECT_EQ(http.StatusCode, c.status);
        EXPECT_EQ(site.server.Requests().size(), 1u) << "no redirect followed";
    }
    site.response = Response{200, "", {}, ""};
    TTravonHttp empty;
    EXPECT_EQ(empty.GetText(url), "");
    EXPECT_EQ(empty.PostText(url), "");

    // GetFile: the body goes to the file, readable by its owner only; a failed answer leaves the
    // file empty.
    test::TempDir dir;
    const test::Umask umask(0);
    site.response = Response{200, "", {}, std::string("MZ\x00\x90", 4)};
    TTravonHttp file;
    file.GetFile(url, dir.File("novo.exe"));
    EXPECT_EQ(dir.Read("novo.exe"), std::string("MZ\x00\x90", 4));
    EXPECT_EQ(test::ModeOf(dir.File("novo.exe")), "600");
    site.response = Response{404, "", {}, "pagina"};
    EXPECT_THROW(file.GetFile(url, dir.File("novo.exe")), ETravonHttpError);
    EXPECT_EQ(dir.Read("novo.exe"), "");
}

TEST(TravonHttp, VersionTextAndExecutableOfTheSite) {
    standin::TSiteStandIn site;
    site.SetVersion(" 1.7.0.0 \r\n", std::string("\x7f"
                                                 "ELF\0\1",
                                                 6));
    TTravonHttp http;
    http.ConnectTimeout = 900000;
    EXPECT_EQ(http.GetText("http://" + site.HostPort() + "/app/Quelvo.aspx"), " 1.7.0.0 \r\n");
    test::TempDir dir;
    http.GetFile("http://" + site.HostPort() + "/app/Quelvo.exe", dir.File("QuelvoAtualizado.exe"));
    EXPECT_EQ(dir.Read("QuelvoAtualizado.exe"), std::string("\x7f"
                                                            "ELF\0\1",
                                                            6));
}

TEST(TravonHttp, CookiesAcrossRequestsOfOneObject) {
    std::vector<Response> answers = {
        Response{200, "", {{"Set-Cookie", "a=1; Path=/; HttpOnly"}, {"Set-Cookie", "B=2"}}, "1"},
        Response{200, "", {{"Set-Cookie", "b=3; expires=Wed, 01 Jan 2031 00:00:00 GMT"}}, "2"},
        Response{200, "", {{"set-cookie", "a="}}, "3"},
        Response{200, "", {}, "4"},
    };
    TStandInServer server(
        [&](const Request& r) { return answers[std::stoul(r.path.substr(1)) - 1]; });
    TTravonHttp http;
    http.GetText(server.BaseUrl() + "/1");
    EXPECT_EQ(http.Cookies, "a=1;B=2;");
    http.GetText(server.BaseUrl() + "/2");
    EXPECT_EQ(http.Cookies, "a=1;B=3;expires=Wed, 01 Jan 2031 00:00:00 GMT;");
    http.GetText(server.BaseUrl() + "/3");
    EXPECT_EQ(http.Cookies, "B=3;expires=Wed, 01 Jan 2031 00:00:00 GMT;");
    http.GetText(server.BaseUrl() + "/4");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].Header("Cookie"), "");
    EXPECT_EQ(requests[1].Header("Cookie"), "a=1;B=2;");
    EXPECT_EQ(requests[3].Header("Cookie"), "B=3;expires=Wed, 01 Jan 2031 00:00:00 GMT;");
    // The Cookie header keeps its place after the others.
    EXPECT_LT(requests[1].head.find("Accept-Language:"), requests[1].head.find("Cookie:"));
    // A new object starts with an empty jar.
    TTravonHttp fresh;
    fresh.GetText(server.BaseUrl() + "/1");
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "");
}

TEST(TravonHttp, CookiesWithControlCharactersAreNotKept) {
    // Found by fuzzing: a control character of a Set-Cookie line reached the Cookie header.
    struct Case {
        const char* what;
        std::vector<std::string> headers;
        std::string jar;
    };
    const Case cases[] = {
        {"in the name", {"HTTP/1.1 200 OK", "Set-Cookie:%\x1e=Wc", "Set-Cookie: b=2"}, "b=2;"},
        {"in the value, a bare CR", {"Set-Cookie: a=1\r[x]=y; Path=/", "Set-Cookie: c=3"}, "c=3;"},
        {"DEL in the value", {"Set-Cookie: a=1\x7f"}, ""},
        {"a tab inside", {"Set-Cookie: a=\t1"}, ""},
        {"blanks and controls around are trimmed", {"Set-Cookie: \t a=1 \x01"}, "a=1;"},
    };
    for (const auto& c : cases) {
        TTravonHttp http;
        http.ResponseHeaders = c.headers;
        http.UpdateCookies();
        EXPECT_EQ(http.Cookies, c.jar) << c.what;
    }
}

TEST(TravonHttp, TextDecodingByContentTypeAndMark) {
    struct Case {
        const char* contentType;
        std::string body;
        std::string getText;
        std::string postText;
    };
    const std::string utf8 = "Concei\xc3\xa7\xc3\xa3o";
    const Case cases[] = {
        {"text/html; charset=utf-8", utf8, utf8, "Concei\xc3\x83\xc2\xa7\xc3\x83\xc2\xa3o"},
        {"text/html; charset=ISO-8859-1", "Concei\xe7\xe3o", utf8, utf8},
        {"text/plain", "\xEF\xBB\xBF" + utf8, utf8, utf8},
    };
    for (const auto& c : cases) {
        Fixed site;
        site.response = Response{200, "", {{"Content-Type", c.contentType}}, c.body};
        TTravonHttp http;
        EXPECT_EQ(http.GetText(site.Url("/t")), c.getText) << c.contentType;
        EXPECT_EQ(http.ResponseHeader("content-type"), c.contentType);
        EXPECT_EQ(http.ResponseHeader("X-Nada"), "");
        EXPECT_EQ(http.ResponseHeaders.front().rfind("HTTP/1.1 200", 0), 0u);
        TTravonHttp post;
        EXPECT_EQ(post.PostText(site.Url("/t")), c.postText) << c.contentType;
    }
}

TEST(TravonHttp, ConnectionFailuresAndTimeOuts) {
    const test::ClosedPort closed;  // bound, never listening: every connection is refused
    const std::string url = "http://127.0.0.1:" + std::to_string(closed.Port()) + "/x";
    TTravonHttp http;
    const std::string refused = ErrorOf([&] { http.GetText(url); });
    EXPECT_NE(refused.find("onnect"), std::string::npos) << refused;
    EXPECT_EQ(refused.substr(refused.size() - (7 + url.size())), " - URL:" + url);

    // A server whose accept queue is full never completes the handshake: the connect time-out
    // ends the request.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(fd);
    }
    TTravonHttp unanswered;
    unanswered.ConnectTimeout = 1000;
    const auto begin = std::chrono::steady_clock::now();
    const std::string connectTimeout = ErrorOf([&] {
        unanswered.GetText("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x");
    });
    // Its own time-out, long before the default one (a minute) would have come.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
    EXPECT_NE(connectTimeout.find("Timeout was reached"), std::string::npos) << connectTimeout;
    for (int fd : fillers) {
        ::close(fd);
    }
    ::close(listener);

    Fixed slow;
    slow.response = Response{200, "", {}, "tarde", std::chrono::milliseconds(60000)};
    TTravonHttp impatient;
    impatient.ReceiveTimeout = 1000;
    const auto start = std::chrono::steady_clock::now();
    const std::string timedOut = ErrorOf([&] { impatient.GetText(slow.Url("/lento")); });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(timedOut.find("Operation too slow"), std::string::npos) << timedOut;
    EXPECT_NE(timedOut.find(" - URL:" + slow.Url("/lento")), std::string::npos);
    EXPECT_LT(took, std::chrono::seconds(60));  // given up before the server would answer
}

TEST(TravonHttp, AnswersHaveASizeLimit) {
    Fixed site;
    const std::string url = site.Url("/grande");
    const std::string tooLarge = "A resposta passou do limite de 1 MB - URL:" + url;
    // Up to 1 MB is read; one byte more fails without reading the rest (a hostile answer of
    // hundreds of megabytes is never held).
    site.response.body = std::string(TTravonHttp::kDefaultMaxResponseBytes, 'a');
    EXPECT_EQ(TTravonHttp().GetText(url).size(), site.response.body.size());
    site.response.body = std::string(3 << 20, 'a');
    TTravonHttp text;
    EXPECT_EQ(ErrorOf([&] { text.GetText(url); }), tooLarge);
    EXPECT_LE(text.BytesRead, TTravonHttp::kDefaultMaxResponseBytes);
    EXPECT_EQ(ErrorOf([&] { TTravonHttp().PostText(url); }), tooLarge);
    std::ostringstream id;
    EXPECT_EQ(ErrorOf([&] { TTravonHttp().Post(url, id); }), tooLarge);
    // The body of a refused status is never read: its message stays the status's.
    site.response.status = 404;
    EXPECT_EQ(ErrorOf([&] { TTravonHttp().GetText(url); }),
              "Erro HTTP não previsto. Response:404\r\nURL: " + url);
    // A file may be larger.
    site.response.status = 200;
    test::TempDir dir;
    TTravonHttp file;
    file.GetFile(url, dir.File("QuelvoAtualizado.exe"));
    EXPECT_EQ(std::filesystem::file_size(dir.File("QuelvoAtualizado.exe")), 3u << 20);
}

TEST(TravonHttp, ADrippingServerMeetsTheDeadline) {
    // One byte every 100 ms never trips the stall check; the deadline ends the request.
    Fixed drip;
    drip.response = Response{200, "", {}, std::string(200, 'x')};
    drip.response.drip = std::chrono::milliseconds(100);
    TTravonHttp http;
    http.Deadline = 800;
    const auto start = std::chrono::steady_clock::now();
    const std::string error = ErrorOf([&] { http.GetText(drip.Url("/pingando")); });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_NE(error.find("timed out after"), std::string::npos) << error;
    EXPECT_NE(error.find(" - URL:" + drip.Url("/pingando")), std::string::npos) << error;
    // (libcurl counts its deadline in whole milliseconds: it may end up to one of them early.)
    EXPECT_GE(took, std::chrono::milliseconds(799));
    EXPECT_LT(took, std::chrono::seconds(20));  // the whole answer would take 20 s
}

TEST(TravonHttp, GetFileReportsAFileItCannotWrite) {
    Fixed site;
    site.response.body = std::string(100000, 'M');
    // A full disk: every write fails.
    EXPECT_EQ(ErrorOf([&] { TTravonHttp().GetFile(site.Url("/app/Quelvo.exe"), "/dev/full"); }),
              "Não foi possível gravar o arquivo \"/dev/full\": No space left on device.");
    // A file that cannot be created.
    test::TempDir dir;
    const std::string nowhere = dir.File("nao-existe/Quelvo.exe");
    EXPECT_EQ(ErrorOf([&] { TTravonHttp().GetFile(site.Url("/app/Quelvo.exe"), nowhere); }),
              "Não foi possível criar o arquivo \"" + nowhere + "\".");
    // A link at the file's name, put there to have the answer overwrite the file it leads to.
    const std::string alvo = dir.Write("alvo", "intacto");
    const std::string link = dir.File("QuelvoAtualizado.exetemp");
    std::filesystem::create_symlink(alvo, link);
    EXPECT_EQ(ErrorOf([&] { TTravonHttp().GetFile(site.Url("/app/Quelvo.exe"), link); }),
              "Não foi possível criar o arquivo \"" + link + "\".");
    EXPECT_EQ(dir.Read("alvo"), "intacto");
}

TEST(StandInServer, ReclaimsTheThreadsOfClosedConnections) {
    // Every site request opens and closes its own connection; a long run must not keep a
    // thread for each of them.
    Fixed site;
    site.response.body = "OK";
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(TTravonHttp().PostText(site.Url("/chaves.php")), "OK");
    }
    EXPECT_EQ(site.server.Requests().size(), 300u);
    // A connection's thread goes once it has ended, at the next connection: on a busy machine the
    // last ones may still be ending, so a few more requests give them their moment.
    for (int i = 0; i < 100 && site.server.ConnectionThreads() > 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(TTravonHttp().PostText(site.Url("/chaves.php")), "OK");
    }
    EXPECT_LE(site.server.ConnectionThreads(), 2u);
}

TEST(TravonHttpProxy, ThroughTinyproxy) {
    Fixed site;
    site.response.body = "via proxy";
    {
        test::TinyProxy proxy;
        TTravonHttp http;
        http.Proxy = TTravonHttpProxy{"127.0.0.1", proxy.Port(), "", ""};
        EXPECT_EQ(http.GetText(site.Url("/pelo-proxy")), "via proxy");
        EXPECT_NE(proxy.Log().find("/pelo-proxy"), std::string::npos) << proxy.Log();
        // The stand-in saw the request coming from the proxy.
        ASSERT_EQ(site.server.Requests().size(), 1u);
    }
    test::TinyProxy guarded("quelvo", "s3gredo");
    TTravonHttp good;
    good.Proxy = TTravonHttpProxy{"127.0.0.1", guarded.Port(), "quelvo", "s3gredo"};
    EXPECT_EQ(good.GetText(site.Url("/autenticado")), "via proxy");

    // Without credentials the proxy answers 407.
    TTravonHttp bad;
    bad.Proxy = TTravonHttpProxy{"127.0.0.1", guarded.Port(), "", ""};
    const std::string url = site.Url("/negado");
    EXPECT_EQ(ErrorOf([&] { bad.GetText(url); }),
              "Erro HTTP não previsto. Response:407\r\nURL: " + url +
                  "\r\nPor favor verifique as configurações de usuário e senha do proxy.");
    // This proxy answers a wrong password with 401, which is an ordinary refusal here.
    TTravonHttp wrong;
    wrong.Proxy = TTravonHttpProxy{"127.0.0.1", guarded.Port(), "quelvo", "errada"};
    EXPECT_EQ(ErrorOf([&] { wrong.GetText(url); }),
              "Erro HTTP não previsto. Response:401\r\nURL: " + url);

    // A proxy that is not in use: blanks as server, or port 0.
    TTravonHttp blank;
    blank.Proxy = TTravonHttpProxy{"  ", guarded.Port(), "", ""};
    EXPECT_EQ(blank.GetText(site.Url("/direto")), "via proxy");
    TTravonHttp noPort;
    noPort.Proxy = TTravonHttpProxy{"127.0.0.1", 0, "", ""};
    EXPECT_EQ(noPort.GetText(site.Url("/direto")), "via proxy");
}

}  // namespace
}  // namespace quelvo
