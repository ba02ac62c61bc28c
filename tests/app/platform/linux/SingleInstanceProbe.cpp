// A headless Korvel start for the single-instance tests: the first one listens and prints what it receives;
// a later one hands its links (or a show request) over and exits.
//
//     SingleInstanceProbe [--socket PATH] [URL…]
//
// Prints "primary", then "urls <JSON array>" and "show" per request; or "forwarded" (exit 0) or
// "failed <reason>" (exit 1).

#include "app/platform/linux/SingleInstance.hpp"

#include <QCoreApplication>

#include <nlohmann/json.hpp>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::vector<std::string> urls(argv + 1, argv + argc);
    std::filesystem::path socket;
    if (urls.size() >= 2 && urls[0] == "--socket") {
        socket = urls[1];
        urls.erase(urls.begin(), urls.begin() + 2);
    }
    try {
        korvel::SingleInstance instance(socket.empty() ? korvel::SingleInstance::defaultSocketPath() : socket);
        if (!instance.listen()) {
            instance.handOver(urls);
            std::cout << "forwarded" << std::endl;
            return 0;
        }
        QObject::connect(&instance, &korvel::SingleInstance::urlsReceived, [](const std::vector<std::string>& list) {
            std::cout << "urls " << nlohmann::json(list).dump() << std::endl;
        });
        QObject::connect(&instance, &korvel::SingleInstance::showRequested, [] { std::cout << "show" << std::endl; });
        std::cout << "primary " << instance.socketPath().string() << std::endl;
        return application.exec();
    } catch (const std::exception& error) {
        std::cout << "failed " << error.what() << std::endl;
        return 1;
    }
}
