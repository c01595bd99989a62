#pragma once

// The test programs of an area hold all its test classes; each class registers itself under
// its file's name (tst_target) and the program runs the one named first on its command line,
// in a process of its own as before, so each class stays its own test. Include nothing else
// to use it: the build puts this header in front of every test file of an area.

#include <QTest>

namespace sentrel::test {

using TestMainFunction = int (*)(int argc, char *argv[]);

// Makes the test in `file` known to its area's program; true, for a static initialiser.
bool registerTest(const char *file, TestMainFunction main);

} // namespace sentrel::test

// Named after the counter, so that files compiled together in one unity batch do not clash.
#define SENTREL_TEST_CONCAT(a, b) a##b
#define SENTREL_TEST_NAME(prefix, counter) SENTREL_TEST_CONCAT(prefix, counter)
#define SENTREL_TEST_REGISTER(main)                                                                          \
    [[maybe_unused]] static const bool SENTREL_TEST_NAME(sentrelTestRegistered, __COUNTER__) =               \
        sentrel::test::registerTest(__FILE__, main);

#define SENTREL_TEST_WITH_APP(TestObject, appSetup)                                                          \
    SENTREL_TEST_REGISTER(([](int argc, char *argv[]) -> int {                                               \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                                   \
        appSetup TestObject tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }))

// In place of QTEST_MAIN and QTEST_GUILESS_MAIN, with the same application object.
#define SENTREL_TEST_MAIN(TestObject) SENTREL_TEST_WITH_APP(TestObject, QTEST_MAIN_SETUP())
#define SENTREL_TEST_GUILESS_MAIN(TestObject)                                                                \
    SENTREL_TEST_WITH_APP(TestObject, QTEST_QAPP_SETUP(QCoreApplication))

// In place of a test's own `int main(int argc, char *argv[])`, which then makes its own
// application. A child it starts from QCoreApplication::applicationFilePath() runs it again.
#define SENTREL_TEST_OWN_MAIN(argc, argv)                                                                    \
    static int sentrelOwnMain(int argc, char *argv[]);                                                       \
    SENTREL_TEST_REGISTER(sentrelOwnMain)                                                                    \
    static int sentrelOwnMain(int argc, char *argv[])
