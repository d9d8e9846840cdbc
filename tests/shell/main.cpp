// The desktop program's tests: the real windows, offscreen unless a display is named.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QApplication>

#include <csignal>

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    const int code = RUN_ALL_TESTS();
    curl_global_cleanup();
    return code;
}
