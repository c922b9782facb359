// replay_main - runs a fuzz target over stored inputs as an ordinary test, in
// builds without libFuzzer: replay CORPUS_FOLDER_OR_FILE...
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int replay(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "%s: cannot be read\n", path.string().c_str());
        return 0;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char** argv)
{
    int replayed = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path path(argv[i]);
        std::vector<std::filesystem::path> inputs;
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
            std::sort(inputs.begin(), inputs.end());
        } else {
            inputs.push_back(path);
        }
        for (const auto& input : inputs) {
            if (!replay(input))
                return 1;
            replayed++;
        }
    }
    // A replay that ran nothing proves nothing.
    if (replayed == 0) {
        fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...: no inputs found\n", argv[0]);
        return 1;
    }
    printf("%d inputs replayed\n", replayed);
    return 0;
}
