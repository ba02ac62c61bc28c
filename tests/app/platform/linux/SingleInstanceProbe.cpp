// A headless Korvel start for the single-instance tests: the first one listens and prints what it receives;
// a later one hands its links (or a show request) over and exits.
//
//     SingleInstanceProbe SOCKET [URL…]
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
    const std::vector<std::string> urls(argv + std::min(argc, 2), argv + argc);
    try {
        korvel::SingleInstance instance(argc > 1 ? argv[1] : "");
        if (!instance.listen()) {
            instance.handOver(urls);
            std::cout << "forwarded" << std::endl;
            return 0;
        }
        QObject::connect(&instance, &korvel::SingleInstance::urlsReceived, [](const std::vector<std::string>& list) {
            std::cout << "urls " << nlohmann::json(list).dump() << std::endl;
        });
        QObject::connect(&instance, &korvel::SingleInstance::showRequested, [] { std::cout << "show" << std::endl; });
        std::cout << "primary" << std::endl;
        return application.exec();
    } catch (const std::exception& error) {
        std::cout << "failed " << error.what() << std::endl;
        return 1;
    }
}
