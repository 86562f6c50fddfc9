// Native methods of com.vev.media.codec.audio.mpa.NativeStream: the stream
// layer for rovaz's Java classes. One call decodes as many frames as the
// caller's array holds, so the cost of crossing into native code is paid
// per read, not per frame.
//
// As in the frame methods, no argument is trusted: null arrays, offsets and
// lengths outside the arrays, and handles that are not open end in an error
// status without touching memory outside the Java arrays. Every write into a
// Java array goes through mpa_stream_read, whose room is the length the
// call was given and checked against the array.
#include <jni.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "handle_table.h"
#include "rovaz/mpa_stream.h"

#define ROVAZ_JNI extern "C" JNIEXPORT

namespace {

// Bytes moved per call between a Java source and the stream, and between
// the stream and Java for such a source's reads.
constexpr jint kSourceChunk = 1 << 16;

// A stream and how its samples reach Java: byte order swapped when the
// caller asks for the other one than the machine's.
//
// A stream over a Java source (NativeStream.Source) calls back into Java to
// read and seek, which it only does inside a call from Java: env is that
// call's. Such a stream reads into pcm and copies out, for a callback cannot
// run while a Java array is held critical.
struct java_stream {
    mpa_stream *stream = nullptr;
    bool swap = false;
    JavaVM *vm = nullptr;
    JNIEnv *env = nullptr;
    jobject source = nullptr;    // global reference
    jbyteArray chunk = nullptr;  // global reference, kSourceChunk bytes
    jmethodID read = nullptr, seek = nullptr;
    int64_t size = -1;
    uint8_t *pcm = nullptr;      // kSourceChunk bytes
};

void free_java_stream(java_stream *j)
{
    if (!j)
        return;
    mpa_stream_close(j->stream);
    JNIEnv *env = nullptr;
    if (j->vm && j->vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_6) == JNI_OK) {
        if (j->source)
            env->DeleteGlobalRef(j->source);
        if (j->chunk)
            env->DeleteGlobalRef(j->chunk);
    }
    delete[] j->pcm;
    delete j;
}

long source_read(void *opaque, uint8_t *dst, size_t max)
{
    java_stream *j = static_cast<java_stream *>(opaque);
    JNIEnv *env = j->env;
    const jint want = static_cast<jint>(std::min<size_t>(max, static_cast<size_t>(kSourceChunk)));
    const jint got = env->CallIntMethod(j->source, j->read, j->chunk, want);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return -1;
    }
    if (got < 0)
        return got == -1 ? 0 : -1;  // -1 ends the source; other negatives are failures
    const jint n = std::min(got, want);
    env->GetByteArrayRegion(j->chunk, 0, n, reinterpret_cast<jbyte *>(dst));
    return n;
}

int source_seek(void *opaque, int64_t offset)
{
    java_stream *j = static_cast<java_stream *>(opaque);
    const jboolean ok = j->env->CallBooleanMethod(j->source, j->seek, static_cast<jlong>(offset));
    if (j->env->ExceptionCheck()) {
        j->env->ExceptionClear();
        return -1;
    }
    return ok ? 0 : -1;
}

int64_t source_size(void *opaque)
{
    return static_cast<java_stream *>(opaque)->size;
}

mpa_handle_table<java_stream, free_java_stream> &streams()
{
    static mpa_handle_table<java_stream, free_java_stream> t;
    return t;
}

// Lends the stream of a handle for the duration of one call.
class lent {
public:
    lent(JNIEnv *env, jint handle) : handle_(handle), j_(streams().acquire(handle))
    {
        if (j_)
            j_->env = env;
    }
    ~lent()
    {
        if (j_)
            streams().release(handle_);
    }
    lent(const lent &) = delete;
    lent &operator=(const lent &) = delete;
    java_stream *get() const { return j_; }

private:
    jint handle_;
    java_stream *j_;
};

// get(stream, out) with the handle lent for that call alone, so that the caller's JNI calls come after
// the release: its status, or MPA_ERR_NULL_ARG for a bad handle.
template <class Get, class Out>
int get_lent(JNIEnv *env, jint handle, Get get, Out *out)
{
    lent j(env, handle);
    return j.get() ? get(j.get()->stream, out) : MPA_ERR_NULL_ARG;
}

bool in_range(JNIEnv *env, jbyteArray a, jint offset, jint length)
{
    if (!a)
        return false;
    const jint n = env->GetArrayLength(a);
    return offset >= 0 && length >= 0 && offset <= n && length <= n - offset;
}

constexpr jint kInfoFields = 22;

// Flags of the open methods.
enum { kGapless = 1, kDropDamaged = 2, kBigEndian = 4, kNoMpeg25 = 8 };

bool machine_big_endian()
{
    const uint16_t probe = 1;
    return *reinterpret_cast<const uint8_t *>(&probe) == 0;
}

bool make_config(jint sample_format, jint channels, jint flags, mpa_stream_config *c)
{
    mpa_stream_config_default(c);
    if (sample_format < MPA_SAMPLE_S16 || sample_format > MPA_SAMPLE_F32 || channels < 0 || channels > 2)
        return false;
    c->sample_format = sample_format;
    c->channels = channels;
    c->gapless = (flags & kGapless) != 0;
    c->drop_damaged = (flags & kDropDamaged) != 0;
    c->mpeg25 = (flags & kNoMpeg25) == 0;
    return true;
}

// Registers an opened stream; on any failure the stream is closed and the
// status (negative) is returned instead of a handle.
bool swap_for(jint flags)
{
    return ((flags & kBigEndian) != 0) != machine_big_endian();
}

jint register_stream(java_stream *j)
{
    const jint handle = streams().issue(j);
    if (handle == 0) {
        free_java_stream(j);
        return MPA_ERR_NO_MEMORY;
    }
    j->env = nullptr;
    return handle;
}

jint issue(mpa_stream *s, jint flags)
{
    java_stream *j = new (std::nothrow) java_stream;
    if (!j) {
        mpa_stream_close(s);
        return MPA_ERR_NO_MEMORY;
    }
    j->stream = s;
    j->swap = swap_for(flags);
    return register_stream(j);
}

// Reverses the bytes of each sample of bytes_per_sample in p[0..bytes).
void swap_samples(uint8_t *p, size_t bytes, int bytes_per_sample)
{
    for (size_t i = 0; i + static_cast<size_t>(bytes_per_sample) <= bytes;
         i += static_cast<size_t>(bytes_per_sample))
        std::reverse(p + i, p + i + bytes_per_sample);
}

}  // namespace

// Returns a handle (> 0), or a negative status.
ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nOpenPush(JNIEnv *, jclass,
                                                                                 jint sample_format,
                                                                                 jint channels, jint flags)
{
    mpa_stream_config c;
    if (!make_config(sample_format, channels, flags, &c))
        return MPA_ERR_ARG;
    mpa_stream *s = nullptr;
    const int r = mpa_stream_open_push(&s, &c);
    return r == MPA_OK ? issue(s, flags) : r;
}

ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nOpenFile(JNIEnv *env, jclass,
                                                                                 jstring path,
                                                                                 jint sample_format,
                                                                                 jint channels, jint flags)
{
    mpa_stream_config c;
    if (!path || !make_config(sample_format, channels, flags, &c))
        return MPA_ERR_ARG;
    // Bits 16 to 23: threads that decode the file ahead of the reads.
    c.threads = static_cast<int32_t>(std::min<jint>((flags >> 16) & 0xFF, 64));  // jint is long on Windows
    const char *name = env->GetStringUTFChars(path, nullptr);
    if (!name)
        return MPA_ERR_NO_MEMORY;
    mpa_stream *s = nullptr;
    const int r = mpa_stream_open_file(&s, name, &c);
    env->ReleaseStringUTFChars(path, name);
    return r == MPA_OK ? issue(s, flags) : r;
}

// A seekable stream over source, a NativeStream.Source of size bytes (-1
// unknown): int read(byte[] chunk, int length), -1 at its end, -2 on failure;
// boolean seek(long offset). Returns a handle (> 0), or a negative status.
ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nOpenSource(JNIEnv *env, jclass,
                                                                                   jobject source, jlong size,
                                                                                   jint sample_format,
                                                                                   jint channels, jint flags)
{
    mpa_stream_config c;
    if (!source || !make_config(sample_format, channels, flags, &c))
        return MPA_ERR_ARG;
    jclass type = env->GetObjectClass(source);
    java_stream *j = new (std::nothrow) java_stream;
    if (!j)
        return MPA_ERR_NO_MEMORY;
    j->swap = swap_for(flags);
    j->env = env;
    j->size = size;
    j->read = env->GetMethodID(type, "read", "([BI)I");
    j->seek = env->GetMethodID(type, "seek", "(J)Z");
    jbyteArray chunk = j->read && j->seek ? env->NewByteArray(kSourceChunk) : nullptr;
    if (!chunk || env->GetJavaVM(&j->vm) != JNI_OK) {
        env->ExceptionClear();
        free_java_stream(j);
        return MPA_ERR_ARG;
    }
    j->chunk = static_cast<jbyteArray>(env->NewGlobalRef(chunk));
    j->source = env->NewGlobalRef(source);
    j->pcm = new (std::nothrow) uint8_t[kSourceChunk];
    if (!j->chunk || !j->source || !j->pcm) {
        free_java_stream(j);
        return MPA_ERR_NO_MEMORY;
    }
    const mpa_stream_io io = {j, source_read, source_seek, source_size};
    const int r = mpa_stream_open_io(&j->stream, &io, &c);
    if (r != MPA_OK) {
        free_java_stream(j);
        return r;
    }
    return register_stream(j);
}

// Changes the sample format, channels and byte order of later reads.
ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nSetOutput(JNIEnv *env, jclass,
                                                                                  jint handle,
                                                                                  jint sample_format,
                                                                                  jint channels, jint flags)
{
    lent j(env, handle);
    if (!j.get())
        return MPA_ERR_NULL_ARG;
    const int r = mpa_stream_set_output(j.get()->stream, sample_format, channels);
    if (r == MPA_OK)
        j.get()->swap = swap_for(flags);
    return r;
}

ROVAZ_JNI void JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nClose(JNIEnv *, jclass, jint handle)
{
    streams().close(handle);
}

// Bytes taken (all of them when nInputWanted was at least length), or a negative status.
ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nFeed(JNIEnv *env, jclass, jint handle,
                                                                             jbyteArray data, jint offset,
                                                                             jint length)
{
    if (!in_range(env, data, offset, length))
        return MPA_ERR_ARG;
    lent j(env, handle);
    if (!j.get())
        return MPA_ERR_NULL_ARG;
    void *bytes = env->GetPrimitiveArrayCritical(data, nullptr);
    if (!bytes)
        return MPA_ERR_NO_MEMORY;
    size_t taken = 0;
    const int r = mpa_stream_feed(j.get()->stream, static_cast<const uint8_t *>(bytes) + offset,
                                  static_cast<size_t>(length), &taken);
    env->ReleasePrimitiveArrayCritical(data, bytes, JNI_ABORT);
    return r == MPA_OK ? static_cast<jint>(taken) : r;
}

ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nEndInput(JNIEnv *env, jclass,
                                                                                 jint handle)
{
    lent j(env, handle);
    return j.get() ? mpa_stream_end_input(j.get()->stream) : MPA_ERR_NULL_ARG;
}

ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nInputWanted(JNIEnv *env, jclass,
                                                                                    jint handle)
{
    lent j(env, handle);
    return j.get() ? static_cast<jint>(std::min<size_t>(mpa_stream_input_wanted(j.get()->stream), 1 << 30))
                   : 0;
}

// Decodes into out[offset .. offset + length): whole sample periods, never
// more than length bytes. Returns the status in the low 32 bits and the
// bytes written in the high 32.
ROVAZ_JNI jlong JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nRead(JNIEnv *env, jclass,
                                                                              jint handle, jbyteArray out,
                                                                              jint offset, jint length)
{
    const auto pack = [](int status, size_t bytes) {
        return static_cast<jlong>((static_cast<uint64_t>(bytes) << 32) | static_cast<uint32_t>(status));
    };
    if (!in_range(env, out, offset, length))
        return pack(MPA_ERR_ARG, 0);
    lent j(env, handle);
    if (!j.get())
        return pack(MPA_ERR_NULL_ARG, 0);
    // A Java source's stream decodes into its own buffer: its reads call back into Java.
    const bool via_pcm = j.get()->pcm != nullptr;
    const size_t room = via_pcm ? std::min(static_cast<size_t>(length), static_cast<size_t>(kSourceChunk))
                                : static_cast<size_t>(length);
    uint8_t *array = via_pcm ? nullptr : static_cast<uint8_t *>(env->GetPrimitiveArrayCritical(out, nullptr));
    if (!via_pcm && !array)
        return pack(MPA_ERR_NO_MEMORY, 0);
    uint8_t *bytes = via_pcm ? j.get()->pcm : array + offset;
    void *dest[2] = {bytes, nullptr};
    size_t samples = 0;
    const int r = mpa_stream_read(j.get()->stream, dest, room, &samples);
    size_t written = 0;
    mpa_stream_format f;
    if (r == MPA_OK && mpa_stream_get_format(j.get()->stream, &f) == MPA_OK) {
        written = std::min(
            samples * static_cast<size_t>(f.channels) * static_cast<size_t>(f.bytes_per_sample), room);
        if (j.get()->swap)
            swap_samples(bytes, written, f.bytes_per_sample);
    }
    if (via_pcm)
        env->SetByteArrayRegion(out, offset, static_cast<jsize>(written),
                                reinterpret_cast<const jbyte *>(bytes));
    else
        env->ReleasePrimitiveArrayCritical(out, array, 0);
    return pack(r, written);
}

// Fills fields with: sampling rate, channels, source channels, layer,
// version, mode, bit rate, sample format, bytes per sample, and the start
// sample (high, low 32 bits). Returns a status.
ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nFormat(JNIEnv *env, jclass,
                                                                               jint handle, jintArray fields)
{
    if (!fields || env->GetArrayLength(fields) < 11)
        return MPA_ERR_ARG;
    mpa_stream_format f;
    const int r = get_lent(env, handle, mpa_stream_get_format, &f);
    if (r != MPA_OK)
        return r;
    const jint v[11] = {f.sampling_rate, f.channels, f.source_channels, f.layer, f.version, f.mode,
                        f.bit_rate, f.sample_format, f.bytes_per_sample, static_cast<jint>(f.start >> 32),
                        static_cast<jint>(static_cast<uint32_t>(f.start))};
    env->SetIntArrayRegion(fields, 0, 11, v);
    return MPA_OK;
}

// Fills fields with: samples (-1 unknown), duration in microseconds, length
// exact, seekable, info frame kind, encoder delay, encoder padding, gapless,
// frames decoded, concealed, dropped, bytes skipped, CRC ignored, format
// changes, tags clamped, then info frames, info bytes, audio frames, frames
// silent, tag bytes, first frame offset (-1 unknown), leading junk (-1
// unknown). Scans a seekable
// source first. Returns a status.
ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nInfo(JNIEnv *env, jclass, jint handle,
                                                                             jlongArray fields)
{
    if (!fields || env->GetArrayLength(fields) < kInfoFields)
        return MPA_ERR_ARG;
    mpa_stream_info i;
    const int r = get_lent(env, handle, mpa_stream_get_info, &i);
    if (r != MPA_OK)
        return r;
    const jlong v[kInfoFields] = {i.samples,        i.duration_us,      i.length_exact,   i.seekable,
                                  i.info_kind,      i.encoder_delay,    i.encoder_padding, i.gapless,
                                  i.frames_decoded, i.frames_concealed, i.frames_dropped, i.bytes_skipped,
                                  i.crc_ignored,    i.format_changes,   i.tags_clamped,   i.info_frames,
                                  i.info_bytes,     i.audio_frames,     i.frames_silent,  i.tag_bytes,
                                  i.first_frame_offset_valid ? i.first_frame_offset : -1, i.leading_junk};
    env->SetLongArrayRegion(fields, 0, kInfoFields, v);
    return MPA_OK;
}

ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nSeek(JNIEnv *env, jclass, jint handle,
                                                                             jlong sample)
{
    lent j(env, handle);
    return j.get() ? mpa_stream_seek(j.get()->stream, sample) : MPA_ERR_NULL_ARG;
}

ROVAZ_JNI jlong JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nTell(JNIEnv *env, jclass,
                                                                              jint handle)
{
    lent j(env, handle);
    return j.get() ? mpa_stream_tell(j.get()->stream) : -1;
}

// The tags as UTF-8: key, NUL, value, NUL, for each; null on a bad handle.
ROVAZ_JNI jbyteArray JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nTags(JNIEnv *env, jclass,
                                                                                   jint handle)
{
    std::string all;
    {
        lent j(env, handle);
        if (!j.get())
            return nullptr;
        for (int i = 0, n = mpa_stream_tag_count(j.get()->stream); i < n; i++) {
            const char *key, *value;
            if (mpa_stream_tag(j.get()->stream, i, &key, &value) != MPA_OK)
                continue;
            all.append(key).push_back('\0');
            all.append(value).push_back('\0');
        }
    }
    if (all.size() > static_cast<size_t>(0x7FFFFFFF))
        return nullptr;
    jbyteArray a = env->NewByteArray(static_cast<jsize>(all.size()));
    if (a)
        env->SetByteArrayRegion(a, 0, static_cast<jsize>(all.size()),
                                reinterpret_cast<const jbyte *>(all.data()));
    return a;
}

// The encoder the LAME tag names, or an empty string; null on a bad handle.
ROVAZ_JNI jstring JNICALL Java_com_vev_media_codec_audio_mpa_NativeStream_nEncoder(JNIEnv *env, jclass,
                                                                                   jint handle)
{
    char name[sizeof(mpa_stream_info::encoder) + 1] = {0};
    {
        lent j(env, handle);
        if (!j.get())
            return nullptr;
        mpa_stream_info i;
        if (mpa_stream_get_info(j.get()->stream, &i) == MPA_OK)
            std::memcpy(name, i.encoder, sizeof(i.encoder));
    }
    for (char *c = name; *c; c++)
        if (static_cast<unsigned char>(*c) < 0x20 || static_cast<unsigned char>(*c) > 0x7E)
            *c = '?';  // NewStringUTF takes modified UTF-8 only
    return env->NewStringUTF(name);
}
