// mpaseekbench: what a player pays on a long file through the stream layer:
// the exact-length scan (mpa_stream_open_file + mpa_stream_get_info, which
// walks every frame header), a seek deep into the file followed by one
// second of output, and a full decode for scale; all in CPU time of the
// process (CLOCK_PROCESS_CPUTIME_ID: user and system, so the reads from the
// page cache count), best and median of the rounds. In the same run it checks
// that everything after the seek, to the end, is the output of a decode from
// the start at that position, and that the scan's length is the decode's.
//
//   mpaseekbench [--rounds N] [--decode-rounds N] [--at SECONDS] FILE
//
// The output is 16-bit (the default) with gapless trimming on, so the seek
// target counts samples of the trimmed output, as a player's position does.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "rovaz/mpa_stream.h"

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Series {
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    double best() const { return *std::min_element(v.begin(), v.end()); }
    double median() const
    {
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n % 2 ? s[n / 2] : 0.5 * (s[n / 2 - 1] + s[n / 2]);
    }
};

// An open stream and a read buffer of one frame, as in mpabench, so that the
// full decode compares with its figures; closed on every path out.
struct Stream {
    mpa_stream *s = nullptr;
    mpa_stream_format fmt{};
    std::vector<uint8_t> buf = std::vector<uint8_t>(MPA_MAX_FRAME_PCM_BYTES);
    ~Stream() { mpa_stream_close(s); }
    size_t period() const
    {
        return static_cast<size_t>(fmt.channels) * static_cast<size_t>(fmt.bytes_per_sample);
    }
};

bool open(Stream *st, const char *path)
{
    if (mpa_stream_open_file(&st->s, path, nullptr) != MPA_OK)
        return false;
    return mpa_stream_get_format(st->s, &st->fmt) == MPA_OK;
}

// Reads up to max samples per channel into dst, which holds cap bytes;
// fewer at the end of the stream. 0 at the end, -1 on an error.
long read_into(Stream *st, uint8_t *dst, size_t cap, int64_t max)
{
    void *dest[2] = {dst, nullptr};
    for (;;) {
        const size_t room =
            static_cast<size_t>(std::min<int64_t>(max, static_cast<int64_t>(cap / st->period()))) *
            st->period();
        size_t n = 0;
        const int r = mpa_stream_read(st->s, dest, room, &n);
        if (r == MPA_OK)
            return static_cast<long>(n);
        if (r == MPA_STREAM_FORMAT_CHANGED) {
            mpa_stream_get_format(st->s, &st->fmt);
            continue;
        }
        return r == MPA_STREAM_END ? 0 : -1;
    }
}

// Reads samples per channel through st->buf (fewer only at the end); the
// samples read.
int64_t read_exactly(Stream *st, int64_t samples, uint32_t *sink)
{
    int64_t got = 0;
    while (got < samples) {
        const long n = read_into(st, st->buf.data(), st->buf.size(), samples - got);
        if (n <= 0)
            break;
        *sink += st->buf[0];
        got += n;
    }
    return got;
}

struct Check {
    int64_t decoded = 0;   // samples per channel of the decode from the start
    int64_t compared = 0;  // of those, compared with the seeked stream
    int64_t first_difference = -1;
    bool seeked_longer = false;
    bool ok() const { return first_difference < 0 && !seeked_longer && compared > 0; }
};

// One decode from the start and one stream seeked to `at`, read side by
// side: from `at` on, every chunk of the first must equal the second's next
// samples, down to the end of both.
bool check_seek(const char *path, int64_t at, Check *c)
{
    Stream full, seeked;
    if (!open(&full, path) || !open(&seeked, path) || mpa_stream_seek(seeked.s, at) != MPA_OK)
        return false;
    std::vector<uint8_t> got;
    for (;;) {
        const long n = read_into(&full, full.buf.data(), full.buf.size(), INT64_MAX);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        const int64_t from = std::max<int64_t>(c->decoded, at);
        c->decoded += n;
        if (from >= c->decoded)
            continue;
        const size_t p = full.period();
        const uint8_t *want = full.buf.data() + static_cast<size_t>(from - (c->decoded - n)) * p;
        const int64_t span = c->decoded - from;
        got.resize(static_cast<size_t>(span) * p);
        int64_t have = 0;
        while (have < span) {
            const long k = read_into(&seeked, got.data() + static_cast<size_t>(have) * p,
                                     got.size() - static_cast<size_t>(have) * p, span - have);
            if (k <= 0)
                break;
            have += k;
        }
        if (c->first_difference < 0 && (have < span || std::memcmp(want, got.data(), got.size()) != 0)) {
            int64_t i = 0;
            while (i < have && std::memcmp(want + i * p, got.data() + i * p, p) == 0)
                i++;
            c->first_difference = from + i;
        }
        c->compared += span;
    }
    uint8_t one[16];
    c->seeked_longer = read_into(&seeked, one, sizeof(one), 1) != 0;
    return true;
}

std::string clock_time(double seconds)
{
    char t[48];
    const long s = static_cast<long>(seconds);
    if (static_cast<double>(s) == seconds)
        std::snprintf(t, sizeof(t), "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(t, sizeof(t), "%ld:%02ld:%06.3f", s / 3600, s / 60 % 60,
                      seconds - static_cast<double>(s / 60 * 60));
    return t;
}

void usage()
{
    std::fprintf(stderr, "usage: mpaseekbench [--rounds N] [--decode-rounds N] [--at SECONDS] FILE\n");
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = 9;
    int decode_rounds = 3;
    double at_seconds = 3000;
    const char *path = nullptr;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--rounds" && has_value) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--decode-rounds" && has_value) {
            decode_rounds = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--at" && has_value) {
            at_seconds = std::atof(argv[++i]);
        } else if (a.empty() || a[0] == '-' || path) {
            usage();
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (!path || !(at_seconds >= 0)) {
        usage();
        return 2;
    }
    uint32_t sink = 0;

    // Untimed first pass: brings the file into the page cache, and gives the
    // format and the length.
    mpa_stream_info info{};
    Stream probe;
    if (!open(&probe, path) || mpa_stream_get_info(probe.s, &info) != MPA_OK) {
        std::fprintf(stderr, "mpaseekbench: cannot open or scan %s\n", path);
        return 2;
    }
    const int rate = probe.fmt.sampling_rate;
    const int64_t at = static_cast<int64_t>(at_seconds * rate + 0.5);
    if (!info.length_exact || info.samples <= at + rate) {
        std::fprintf(stderr, "mpaseekbench: %s is not seekable to %s and one second past it\n", path,
                     clock_time(at_seconds).c_str());
        return 2;
    }
    std::printf("%s: %s (%.1f s), %d Hz, %d channel%s, layer %d, %lld frames, %s, %d rounds\n", path,
                clock_time(static_cast<double>(info.samples) / rate).c_str(),
                static_cast<double>(info.samples) / rate, rate, probe.fmt.channels,
                probe.fmt.channels == 1 ? "" : "s", probe.fmt.layer,
                static_cast<long long>(info.audio_frames), info.gapless ? "gapless" : "not trimmed", rounds);

    // a. The exact length.
    Series scan;
    for (int r = 0; r < rounds; r++) {
        Stream st;
        mpa_stream_info i{};
        const double t0 = cpu_seconds();
        const bool ok = open(&st, path) && mpa_stream_get_info(st.s, &i) == MPA_OK;
        scan.add(cpu_seconds() - t0);
        if (!ok || i.samples != info.samples) {
            std::fprintf(stderr, "mpaseekbench: the scan gave another length\n");
            return 1;
        }
    }

    // b. Open, scan, seek, one second. The first seek would scan by itself;
    // get_info first keeps the two apart.
    Series open_time, scan_in_seek, seek_only, second_only, seek_second, total;
    for (int r = 0; r < rounds; r++) {
        Stream st;
        mpa_stream_info i{};
        const double t0 = cpu_seconds();
        bool ok = open(&st, path);
        const double t1 = cpu_seconds();
        ok = ok && mpa_stream_get_info(st.s, &i) == MPA_OK;
        const double t2 = cpu_seconds();
        ok = ok && mpa_stream_seek(st.s, at) == MPA_OK;
        const double t3 = cpu_seconds();
        ok = ok && read_exactly(&st, rate, &sink) == rate;
        const double t4 = cpu_seconds();
        if (!ok) {
            std::fprintf(stderr, "mpaseekbench: the seek to %s failed\n", clock_time(at_seconds).c_str());
            return 1;
        }
        open_time.add(t1 - t0);
        scan_in_seek.add(t2 - t1);
        seek_only.add(t3 - t2);
        second_only.add(t4 - t3);
        seek_second.add(t4 - t2);
        total.add(t4 - t0);
    }

    // The whole file, for scale.
    Series decode;
    for (int r = 0; r < decode_rounds; r++) {
        Stream st;
        const double t0 = cpu_seconds();
        const bool ok = open(&st, path) && read_exactly(&st, INT64_MAX, &sink) == info.samples;
        decode.add(cpu_seconds() - t0);
        if (!ok) {
            std::fprintf(stderr, "mpaseekbench: the full decode did not give the scanned length\n");
            return 1;
        }
    }

    // c. Everything after the seek against the decode from the start.
    Check check;
    const bool checked = check_seek(path, at, &check);

    const auto ms = [](double s) { return s * 1e3; };
    const std::string where = clock_time(at_seconds);
    std::printf("\n%-38s %10s %10s  %s\n", "CPU time", "best ms", "median ms", "target");
    std::printf("%-38s %10.2f %10.2f  < 50 ms: %s\n", "a. open + exact length (get_info)", ms(scan.best()),
                ms(scan.median()), scan.best() < 0.050 ? "met" : "MISSED");
    const std::string seek_label = "b. seek to " + where + " + 1 s of output";
    std::printf("%-38s %10.2f %10.2f  < 20 ms: %s\n", seek_label.c_str(), ms(seek_second.best()),
                ms(seek_second.median()), seek_second.best() < 0.020 ? "met" : "MISSED");
    std::printf("%-38s %10.2f %10.2f\n", "     the seek", ms(seek_only.best()), ms(seek_only.median()));
    std::printf("%-38s %10.2f %10.2f\n", "     the second (preroll included)", ms(second_only.best()),
                ms(second_only.median()));
    std::printf("%-38s %10.2f %10.2f\n", "   open", ms(open_time.best()), ms(open_time.median()));
    std::printf("%-38s %10.2f %10.2f\n", "   scan (first get_info)", ms(scan_in_seek.best()),
                ms(scan_in_seek.median()));
    std::printf("%-38s %10.2f %10.2f\n", "   open + scan + seek + 1 s", ms(total.best()), ms(total.median()));
    if (decode_rounds > 0) {
        const double audio = static_cast<double>(info.samples) / rate;
        std::printf("%-38s %10.1f %10.1f  %.0fx real time (best)\n", "full decode (open + read to the end)",
                    ms(decode.best()), ms(decode.median()), audio / decode.best());
    }
    if (!checked) {
        std::printf("\nc. check after the seek: the check could not run\n");
        return 1;
    }
    std::printf("\nc. after the seek to %s: %lld samples per channel (to the end) against a decode from\n"
                "   the start (%lld samples, the scanned length %s): identical %s",
                where.c_str(), static_cast<long long>(check.compared), static_cast<long long>(check.decoded),
                check.decoded == info.samples ? "matches" : "DIFFERS", check.ok() ? "yes" : "NO");
    if (check.first_difference >= 0)
        std::printf(", first difference at sample %lld", static_cast<long long>(check.first_difference));
    if (check.seeked_longer)
        std::printf(", the seeked stream goes on past the end");
    std::printf("\n");
    std::fflush(stdout);
    std::fprintf(stderr, "(checksum %u)\n", sink);
    return check.ok() && check.decoded == info.samples ? 0 : 1;
}
