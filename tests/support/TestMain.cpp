#include "TestMain.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

// Children that a test starts from its own program inherit the test's name through this.
constexpr char TestVariable[] = "SENTREL_TEST_CASE";

std::map<std::string, sentrel::test::TestMainFunction> &tests()
{
    static std::map<std::string, sentrel::test::TestMainFunction> known;
    return known;
}

} // namespace

bool sentrel::test::registerTest(const char *file, TestMainFunction main)
{
    std::string name = file;
    name.erase(0, name.find_last_of('/') + 1);
    name.erase(name.find_last_of('.'));
    if (!tests().emplace(name, main).second) {
        std::fprintf(stderr, "two tests are named %s\n", name.c_str());
        std::abort();
    }
    return true;
}

int main(int argc, char *argv[])
{
    if (argc > 1) {
        const auto test = tests().find(argv[1]);
        if (test != tests().end()) {
            qputenv(TestVariable, argv[1]);
            // The test sees its command line without its name, as its own program would.
            argv[1] = argv[0];
            return test->second(argc - 1, argv + 1);
        }
    }
    const QByteArray inherited = qgetenv(TestVariable);
    const auto test = tests().find(inherited.toStdString());
    if (test != tests().end())
        return test->second(argc, argv);
    std::fprintf(stderr, "usage: %s TEST [QTest options]\ntests:", argv[0]);
    for (const auto &[name, function] : tests())
        std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
}
