// mpainfo: lists the frames of an MPEG audio file, one line each, or with
// --summary describes the stream: format, exact length, tags. MPEG 2.5 is
// listed and described unless --no-mpeg25 says otherwise.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/header.h"
#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"

namespace {

const char *const kModes[] = {"stereo", "joint stereo", "dual channel", "mono"};

// "1", "2" or "2.5" for a version of mpa_stream_format.
const char *version_name(int version)
{
    return version == 25 ? "2.5" : version == 1 ? "1" : "2";
}

int list_frames(const char *path, bool mpeg25)
{
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        return 1;
    }
    std::vector<uint8_t> data;
    uint8_t block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof(block), f)) > 0)
        data.insert(data.end(), block, block + got);
    std::fclose(f);

    mpa_header h;
    std::memset(&h, 0, sizeof(h));
    size_t pos = 0;
    long frames = 0;
    while (pos < data.size()) {
        const int status = mpa_search_header(&h, data.data() + pos, static_cast<int>(data.size() - pos),
                                             mpeg25 ? MPA_SEARCH_MPEG25 : 0u);
        if (status < 0)
            break;
        const size_t at = pos + static_cast<size_t>(h.header_offset);
        const int bytes = h.bits_in_frame >> 3;
        std::printf(
            "frame %ld: Layer %d, MPEG-%s, %d Hz, %d kbit/s%s, %d channel%s (%s), %d bytes, offset %zu%s\n",
            frames, 4 - h.layer_bits,
            version_name(h.id                      ? 1
                         : mpa_header_is_mpeg25(h) ? 25
                                                   : 2),
            h.sampling_rate, h.bit_rate, h.bitrate_index == 0 ? " (free format)" : "", h.n_channels,
            h.n_channels == 1 ? "" : "s", kModes[h.mode], bytes, at, h.protection_bit == 0 ? ", CRC" : "");
        frames++;
        pos = at + (bytes > 0 ? static_cast<size_t>(bytes) : 1);
    }
    if (frames == 0) {
        std::fprintf(stderr, "mpainfo: no MPEG audio frames in %s\n", path);
        return 1;
    }
    return 0;
}

// One "key: value" line; line breaks in a value are shown as spaces.
void line(const std::string &key, std::string value)
{
    for (char &c : value)
        if (c == '\n' || c == '\r')
            c = ' ';
    std::printf("%s: %s\n", key.c_str(), value.c_str());
}

int summary(const char *path, bool mpeg25)
{
    mpa_stream_config config;
    mpa_stream_config_default(&config);
    config.mpeg25 = mpeg25;
    mpa_stream *s = nullptr;
    const int r = mpa_stream_open_file(&s, path, &config);
    if (r != MPA_OK) {
        std::fprintf(stderr, "mpainfo: %s: %s\n", path,
                     r == MPA_ERR_NO_STREAM ? "no MPEG audio frames" : "cannot read");
        return 1;
    }
    mpa_stream_format fmt;
    mpa_stream_info info;
    mpa_stream_get_format(s, &fmt);
    if (mpa_stream_get_info(s, &info) != MPA_OK) {
        std::fprintf(stderr, "mpainfo: %s: cannot read\n", path);
        mpa_stream_close(s);
        return 1;
    }
    char text[160];
    std::snprintf(text, sizeof(text), "MPEG-%s Layer %s, %d Hz, %d channel%s (%s), %d kbit/s",
                  version_name(fmt.version),
                  fmt.layer == 1   ? "I"
                  : fmt.layer == 2 ? "II"
                                   : "III",
                  fmt.sampling_rate, fmt.source_channels, fmt.source_channels == 1 ? "" : "s",
                  kModes[fmt.mode & 3], fmt.bit_rate);
    line("format", fmt.bit_rate == 0 ? std::string(text, std::strlen(text) - std::strlen(", 0 kbit/s")) +
                                           ", free format"
                                     : text);
    line("samples", std::to_string(info.samples));
    std::snprintf(text, sizeof(text), "%.3f s", info.duration_us >= 0 ? info.duration_us / 1e6 : -1.0);
    line("duration", text);
    line("length", info.length_exact ? "exact" : "estimated");
    line("frames", std::to_string(info.audio_frames));
    if (info.format_changes > 0)
        line("format changes", std::to_string(info.format_changes));
    static const char *const kInfo[] = {"none", "Xing", "Info", "VBRI"};
    line("info frame", kInfo[info.info_kind & 3]);
    if (info.encoder[0])
        line("encoder", info.encoder);
    if (info.encoder_delay >= 0) {
        line("encoder delay", std::to_string(info.encoder_delay));
        line("encoder padding", std::to_string(info.encoder_padding));
    }
    line("gapless", info.gapless ? "yes" : "no");
    for (int i = 0, n = mpa_stream_tag_count(s); i < n; i++) {
        const char *key, *value;
        if (mpa_stream_tag(s, i, &key, &value) == MPA_OK)
            line(key, value);
    }
    mpa_stream_close(s);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    bool summarise = false, mpeg25 = true;
    const char *file = nullptr;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--summary") == 0) {
            summarise = true;
        } else if (std::strcmp(argv[i], "--no-mpeg25") == 0) {
            mpeg25 = false;
        } else if (argv[i][0] == '-' || file) {
            file = nullptr;
            break;
        } else {
            file = argv[i];
        }
    }
    if (!file) {
        std::fprintf(stderr, "usage: mpainfo [--summary] [--no-mpeg25] FILE\n");
        return 2;
    }
    return summarise ? summary(file, mpeg25) : list_frames(file, mpeg25);
}
