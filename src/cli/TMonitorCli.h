#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace quelvo {

// The headless program's command line. Exit codes: 0 done, 1 failure, 2 usage error, 3 login
// refused or failed, 4 registration refused.
class TMonitorCli {
public:
    static constexpr int kExitOk = 0;
    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;
    static constexpr int kExitLoginFailed = 3;
    static constexpr int kExitRefused = 4;

    // `in` is where a password given as "-" is read from (the program's standard input).
    TMonitorCli(std::ostream& out, std::ostream& err, std::istream& in)
        : out_(out), err_(err), in_(in) {}

    int Run(const std::vector<std::string>& args);
    void PrintUsage(std::ostream& to) const;

private:
    // A password given as "-": one line of the input, not echoed when it is a terminal. Nothing
    // when the input ends before any character.
    std::optional<std::string> ReadPassword(const std::string& prompt);

    int ImportCertificate(const std::string& file, const std::string& password);
    int ListCertificates();
    int ListAnchors();
    int Login(const std::string& usuario, const std::string& senha);
    int Monitor(bool continuous);
    int Register(const std::vector<std::string>& values, bool yes);
    int ListCompanies();
    int SetMode(bool sequencial);
    int SetSimultaneous(int simultaneas);

    std::ostream& out_;
    std::ostream& err_;
    std::istream& in_;
};

}  // namespace quelvo
