// The worker's calls on the window's thread, and their end when the program ends.
#include <QApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "monitor/TConsultas.h"
#include "shell/ShellWorld.h"
#include "shell/TQtSync.h"

namespace quelvo {
namespace {

using test::Esperar;

TEST(QtSync, CallsRunOnTheWindowThreadAndEndWithTheProgram) {
    TConsultasParam param;
    QObject janela;
    std::vector<std::string> linhas;
    std::thread::id onde;
    TQtSync sync(
        param, "/nao-existe/", &janela,
        [&](const std::vector<std::string>& l) {
            onde = std::this_thread::get_id();
            linhas.insert(linhas.end(), l.begin(), l.end());
        },
        nullptr);

    // A log line reaches the memo on the window's thread while the worker waits for it, and the
    // window shows it a moment later, gathered with any other.
    std::atomic<bool> feito{false};
    std::thread worker([&] {
        sync.EscreveLog("uma\r\nduas");
        feito = true;
    });
    ASSERT_TRUE(Esperar([&] { return feito.load(); }));
    worker.join();
    EXPECT_EQ(sync.Memo.Lines().size(), 2u);
    ASSERT_TRUE(Esperar([&] { return !linhas.empty(); }));
    EXPECT_EQ(linhas, (std::vector<std::string>{"uma", "duas"}));
    EXPECT_EQ(onde, std::this_thread::get_id());

    // An error raised on the window's thread comes back to the worker.
    param.AtualizarLista = [] { throw std::runtime_error("lista"); };
    std::string erro;
    feito = false;
    worker = std::thread([&] {
        try {
            sync.AtualizaLista();
        } catch (const std::exception& e) {
            erro = e.what();
        }
        feito = true;
    });
    ASSERT_TRUE(Esperar([&] { return feito.load(); }));
    worker.join();
    EXPECT_EQ(erro, "lista");

    // A worker waiting for a window that serves nothing (the program is ending) is let go, and
    // its call never runs.
    bool rodou = false;
    param.AtualizarLista = [&] { rodou = true; };
    param.Executando = true;
    feito = false;
    worker = std::thread([&] {
        sync.AtualizaLista();
        sync.FimRodada();
        feito = true;
    });
    // (A moment in which a wrong program would let the call through: this one cannot.)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(feito);  // still waiting: the window's thread is busy here
    sync.Encerrar();
    // Let go without the window's thread serving anything (no events are processed here).
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!feito && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(feito) << "the worker still waits for the window";
    worker.join();
    EXPECT_FALSE(param.Executando);  // FimRodada still ended the cycle
    QApplication::processEvents();   // the queued call comes too late and does nothing
    EXPECT_FALSE(rodou);
    EXPECT_FALSE(param.Ativo);
}

}  // namespace
}  // namespace quelvo
