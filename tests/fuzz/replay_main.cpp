// Feeds saved inputs through a fuzz target's entry point, in ordinary builds:
// the seeds and every input that once made a fuzzer fail stay tests.
// Arguments: files or folders (a missing folder holds nothing; names that
// start with a dot are skipped). A fault aborts, as in the fuzzer; otherwise
// the exit status is 0 and the count of inputs is printed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& where)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    if (fs::is_regular_file(where))
        files.push_back(where);
    else if (fs::is_directory(where))
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(where))
            if (e.is_regular_file() && e.path().filename().string().front() != '.')
                files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int count = 0;
    for (int i = 1; i < argc; ++i)
        for (const std::filesystem::path& file : InputsOf(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<char> bytes { std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>() };
            std::printf("%s\n", file.c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++count;
        }
    std::printf("%d inputs replayed\n", count);
    return 0;
}
