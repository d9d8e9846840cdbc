#pragma once

#include <ostream>

#include "common/LinhaDeRegistro.h"
#include "monitor/TConsultasSync.h"

namespace quelvo {

// The worker's calls in the headless program: run at once, one at a time, with the log entries
// and the new invoices written to the console, one line each without control characters (so a
// journal or a pipe reads them well).
class TConsoleSync : public TConsultasSync {
public:
    TConsoleSync(TConsultasParam& param, std::string appDir, std::ostream& out)
        : TConsultasSync(param, std::move(appDir)), out_(out) {}

protected:
    void OnLog(const std::vector<std::string>& lines) override {
        out_ << LinhaDeRegistro(lines) << "\n";
        out_.flush();
    }
    void OnNota(const std::string& de, const std::string& para) override {
        out_ << LinhaDeRegistro({"Nova nota: De: " + de + " Para: " + para}) << "\n";
        out_.flush();
    }

private:
    std::ostream& out_;
};

}  // namespace quelvo
