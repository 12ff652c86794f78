// The entry point of a fuzz target built without libFuzzer: runs every file
// named on the command line, or found in a directory named there, once.
// That is how the saved corpora run as an ordinary test in every build.
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
// The input under way, named when a target aborts on it.
const char* current = "";

extern "C" void NameTheInput(int) {
    const char* text = "\nreplay aborted on input: ";
    (void)!write(2, text, std::strlen(text));
    (void)!write(2, current, std::strlen(current));
    (void)!write(2, "\n", 1);
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

std::vector<std::filesystem::path> Inputs(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = std::filesystem::absolute(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else if (arg.string().rfind("-", 0) != 0) {   // libFuzzer flags are ignored
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}
}   // namespace

int main(int argc, char** argv) {
    const auto files = Inputs(argc, argv);
    if (files.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 2;
    }
    std::signal(SIGABRT, NameTheInput);
    const auto start = std::chrono::steady_clock::now();
    for (const auto& file : files) {
        current = file.c_str();
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 2;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("%zu inputs replayed in %lld ms\n", files.size(), static_cast<long long>(ms.count()));
    return 0;
}
