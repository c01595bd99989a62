// Replays corpus files through the fuzz targets without libFuzzer, so that every test run
// keeps the corpus a regression test. Usage: fuzz_replay TARGET FILE_OR_DIRECTORY...
#include "FuzzTarget.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, fuzz::TargetFunction> &targets()
{
    static std::map<std::string, fuzz::TargetFunction> known;
    return known;
}

} // namespace

bool fuzz::registerTarget(const char *name, TargetFunction function)
{
    targets()[name] = function;
    return true;
}

int main(int argc, char *argv[])
{
    namespace fs = std::filesystem;
    const auto target = argc > 1 ? targets().find(argv[1]) : targets().end();
    if (target == targets().end()) {
        std::fprintf(stderr, "usage: %s TARGET FILE_OR_DIRECTORY...\ntargets:", argv[0]);
        for (const auto &[name, function] : targets())
            std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 2; i < argc; ++i) {
        std::error_code error;
        if (fs::is_directory(argv[i], error)) {
            for (const fs::directory_entry &entry : fs::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
    }
    // An empty corpus would make the test pass without replaying anything.
    if (files.empty()) {
        std::fprintf(stderr, "no corpus files for %s\n", argv[1]);
        return 1;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s\n", file.filename().c_str());
        target->second(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    }
    std::printf("%s: %zu inputs replayed\n", argv[1], files.size());
    return 0;
}
