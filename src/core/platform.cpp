#include "core/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <vector>
#endif
#include <sys/stat.h>
#include <sys/types.h>

FILE *mpa_file_open_read(const char *utf8_path)
{
#ifdef _WIN32
    // The narrow fopen takes the ANSI code page: names outside it need the wide one.
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8_path, -1, nullptr, 0);
    if (n <= 0)
        return nullptr;
    std::vector<wchar_t> wide(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, utf8_path, -1, wide.data(), n);
    return _wfopen(wide.data(), L"rb");
#else
    return fopen(utf8_path, "rb");
#endif
}

int mpa_file_seek(FILE *f, int64_t offset)
{
#ifdef _WIN32
    return _fseeki64(f, offset, SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int64_t mpa_file_size(FILE *f)
{
#ifdef _WIN32
    struct _stat64 st;
    if (_fstat64(_fileno(f), &st) != 0 || !(st.st_mode & _S_IFREG))
        return -1;
#else
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
#endif
    return static_cast<int64_t>(st.st_size);
}

void mpa_binary_stdio(void)
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}
