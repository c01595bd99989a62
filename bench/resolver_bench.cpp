// Time for the lookups of one cycle of 300 Targets over 100 names when 16 more
// names belong to a name server that never answers, and how many lookups the
// name service was asked for. Each live lookup takes 1 ms, as a near name server would.

#include "probes/HostResolver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSemaphore>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

using namespace sentrel;

namespace {

struct Run
{
    qint64 ms = 0;
    int lookups = 0;
};

Run cycle(int deadNames)
{
    auto release = std::make_shared<QSemaphore>();
    auto lookups = std::make_shared<std::atomic<int>>(0);
    auto resolver = std::make_unique<HostResolver>([release, lookups](const QString &name) {
        ++*lookups;
        if (name.startsWith(QStringLiteral("dead")))
            release->acquire();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return HostEntry {{inet_addr("127.0.0.1")}, 0};
    });
    QObject context;
    QEventLoop loop;
    int answered = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < deadNames; ++i)
        resolver->ResolveHostAddress(QStringLiteral("dead%1").arg(i), &context, [](const ResolveResult &) {});
    for (int i = 0; i < 300; ++i)
        resolver->ResolveHostAddress(
            QStringLiteral("live%1").arg(i % 100), &context, [&](const ResolveResult &) {
                if (++answered == 300)
                    loop.quit();
            });
    loop.exec();
    Run run {clock.elapsed(), lookups->load()};
    resolver.reset();
    release->release(deadNames);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // 64 lookups run at most, so 64 dead names would hold every thread.
    for (const int dead : {0, 16, 48}) {
        const Run run = cycle(dead);
        std::printf("300 Targets over 100 names, %2d dead names: %5lld ms, %3d lookups\n", dead,
            static_cast<long long>(run.ms), run.lookups);
    }
    return 0;
}
