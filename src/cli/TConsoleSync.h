#pragma once

#include <ostream>

#include "monitor/TConsultasSync.h"

namespace quelvo {

// The worker's calls in the headless program: run at once, one at a time, with the log lines and
// the new invoices written to the console.
class TConsoleSync : public TConsultasSync {
public:
    TConsoleSync(TConsultasParam& param, std::string appDir, std::ostream& out)
        : TConsultasSync(param, std::move(appDir)), out_(out) {}

protected:
    void OnLog(const std::vector<std::string>& lines) override {
        for (const auto& line : lines) {
            out_ << line << "\n";
        }
        out_.flush();
    }
    void OnNota(const std::string& de, const std::string& para) override {
        out_ << "Nova nota: De: " << de << " Para: " << para << "\n";
        out_.flush();
    }

private:
    std::ostream& out_;
};

}  // namespace quelvo
