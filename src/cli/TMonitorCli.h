#pragma once

#include <iosfwd>
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

    TMonitorCli(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    int Run(const std::vector<std::string>& args);
    void PrintUsage(std::ostream& to) const;

private:
    int ImportCertificate(const std::string& file, const std::string& password);
    int ListCertificates();
    int Login(const std::string& usuario, const std::string& senha);
    int Monitor(bool continuous);
    int Register(const std::vector<std::string>& values, bool yes);
    int ListCompanies();
    int SetMode(bool sequencial);

    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace quelvo
