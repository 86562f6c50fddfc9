// Whole files read into memory, for the tests and the conformance check.
#ifndef ROVAZ_TESTS_SUPPORT_READ_FILE_H
#define ROVAZ_TESTS_SUPPORT_READ_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mpa_test {

// Appends the bytes of the file at path to *out. False when it cannot be opened.
inline bool read_file(const std::string &path, std::vector<uint8_t> *out)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof(block), f)) > 0)
        out->insert(out->end(), block, block + got);
    std::fclose(f);
    return true;
}

// The bytes of the file at path: none when it cannot be opened.
inline std::vector<uint8_t> read_file_bytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    read_file(path, &bytes);
    return bytes;
}

}  // namespace mpa_test

#endif
