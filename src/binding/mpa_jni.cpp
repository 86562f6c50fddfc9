// Native methods of com.vev.media.codec.audio.mpa.MpegAudio: the four JNI
// methods nOpen, nClose, nGetHeader and nConvert, and two that only rovaz's
// own Java class calls: nConvertFrame, the leaner form of nConvert, and
// nRestartSearch. NativeLoader.nVersion tells the library's version, which
// the jar checks against its own before it uses the library.
//
// The binding never trusts its arguments: null arrays, offsets and lengths
// outside the arrays, and handles that are not open all end in a plain
// false (nGetHeader, nConvert, nConvertFrame) or 0 (nOpen) without touching
// memory outside the Java arrays. Arrays are pinned with the critical
// functions, which let the decoder work on the Java heap directly instead of
// on a copy of the whole array each call; no JNI call is made while they are
// held.
#include <jni.h>

#include <cstdio>
#include <cstring>

#include "frame_convert.h"
#include "handle_table.h"
#include "rovaz/mpa.h"
#include "set_int_field.h"

#define ROVAZ_JNI extern "C" JNIEXPORT

#ifndef ROVAZ_VERSION
#error "ROVAZ_VERSION must be defined by the build (the project's version)"
#endif

namespace {

// True when [offset, offset + length) lies inside an array of array_length.
bool in_range(jint array_length, jint offset, jint length)
{
    return offset >= 0 && length >= 0 && offset <= array_length &&
           length <= array_length - offset;
}

bool has_element(JNIEnv *env, jintArray a)
{
    return a && env->GetArrayLength(a) >= 1;
}

void set_first(JNIEnv *env, jintArray a, jint value)
{
    env->SetIntArrayRegion(a, 0, 1, &value);
}

}  // namespace

ROVAZ_JNI jint JNICALL Java_com_vev_media_codec_audio_mpa_MpegAudio_nOpen(JNIEnv *env, jobject,
                                                                          jintArray status)
{
    if (has_element(env, status))
        set_first(env, status, 0);
    mpa_decoder *dec = nullptr;
    if (mpa_decoder_open(&dec) != MPA_OK)
        return 0;
    if (mpa_decoder_reset(dec) != MPA_OK) {
        mpa_decoder_close(dec);
        return 0;
    }
    const jint handle = mpa_handle_register(dec);
    if (handle == 0)
        mpa_decoder_close(dec);
    return handle;
}

ROVAZ_JNI jboolean JNICALL Java_com_vev_media_codec_audio_mpa_MpegAudio_nClose(JNIEnv *, jobject,
                                                                               jint handle)
{
    mpa_handle_close(handle);
    return JNI_TRUE;
}

ROVAZ_JNI jboolean JNICALL Java_com_vev_media_codec_audio_mpa_MpegAudio_nGetHeader(
    JNIEnv *env, jobject, jbyteArray data, jint length, jobject header_object)
{
    mpa_header header;
    std::memset(&header, 0, sizeof(header));
    int status = MPA_ERR_NULL_ARG;
    if (data) {
        // Never read past the array, whatever length claims.
        const jint array_length = env->GetArrayLength(data);
        if (length > array_length)
            length = array_length;
        if (length < 0)
            length = 0;
        void *bytes = env->GetPrimitiveArrayCritical(data, nullptr);
        if (bytes) {
            status = mpa_get_header(&header, static_cast<const uint8_t *>(bytes), length);
            env->ReleasePrimitiveArrayCritical(data, bytes, JNI_ABORT);
        }
    }
    if (status != MPA_OK && status != MPA_HEADER_UNCONFIRMED) {
        std::printf("mpa_get_header returned %d\n", status);
        std::fflush(stdout);
        return JNI_FALSE;
    }
    SetIntField(env, header_object, "layer", 4 - header.layer_bits);
    SetIntField(env, header_object, "headerOffset", header.header_offset);
    SetIntField(env, header_object, "bitsInFrame", header.bits_in_frame);
    SetIntField(env, header_object, "bitRate", header.bit_rate);
    SetIntField(env, header_object, "samplingRate", header.sampling_rate);
    SetIntField(env, header_object, "nChannels", header.n_channels);
    SetIntField(env, header_object, "nSamples", header.n_samples);
    SetIntField(env, header_object, "negOffset", header.neg_offset);
    return JNI_TRUE;
}

namespace {

// The work of a decode call once the counter arrays are known to be usable:
// checks the data arguments, lends the instance, pins the arrays, decodes one
// frame and prints the conversion diagnostic.
mpa_convert_result convert_call(JNIEnv *env, jint handle, jbyteArray input, jint input_offset,
                           jint input_length, jbyteArray output, jint output_offset, jint preceding_bytes)
{
    mpa_convert_result r;
    const jint output_length = output ? env->GetArrayLength(output) : 0;
    const bool arguments_ok =
        input && output && in_range(env->GetArrayLength(input), input_offset, input_length) &&
        in_range(output_length, output_offset, 0) && preceding_bytes >= 0 &&
        preceding_bytes <= input_offset;
    mpa_decoder *dec = arguments_ok ? mpa_handle_acquire(handle) : nullptr;
    if (dec) {
        const jint output_room = output_length - output_offset;
        void *in = env->GetPrimitiveArrayCritical(input, nullptr);
        void *out = in ? env->GetPrimitiveArrayCritical(output, nullptr) : nullptr;
        if (in && out) {
            mpa_convert_frame(dec, static_cast<const uint8_t *>(in) + input_offset, input_length,
                              preceding_bytes, static_cast<uint8_t *>(out) + output_offset, output_room, &r);
        }
        if (out)
            env->ReleasePrimitiveArrayCritical(output, out, 0);
        if (in)
            env->ReleasePrimitiveArrayCritical(input, in, JNI_ABORT);
        mpa_handle_release(handle);
    }

    if (r.pcm_status != MPA_OK) {
        std::printf("Conversion Error !!!! %d\n", r.pcm_status);
        std::fflush(stdout);
    }
    return r;
}

}  // namespace

ROVAZ_JNI jboolean JNICALL Java_com_vev_media_codec_audio_mpa_MpegAudio_nConvert(
    JNIEnv *env, jobject, jint handle, jbyteArray input, jint input_offset, jint input_length,
    jbyteArray output, jint output_offset, jint /*ignored*/, jintArray consumed,
    jintArray produced, jint preceding_bytes, jintArray needed)
{
    // The counters are written once, at the end: every path, also a refusal,
    // leaves them with this call's values (0 unless set by the decode).
    if (!has_element(env, consumed) || !has_element(env, produced) || !has_element(env, needed))
        return JNI_FALSE;
    const mpa_convert_result r =
        convert_call(env, handle, input, input_offset, input_length, output, output_offset, preceding_bytes);
    set_first(env, produced, r.produced);
    set_first(env, consumed, r.consumed);
    set_first(env, needed, r.needed);
    return r.ok ? JNI_TRUE : JNI_FALSE;
}

// nConvert without the counter arrays, for the Java class's own nConvert,
// which checks and fills the arrays itself: six JNI calls fewer per frame.
// The result packs the counters (consumed and needed are never both set):
//   bits 0-30   consumed, or needed when bit 31 is set
//   bits 32-47  produced
//   bit 48      the call's boolean result
ROVAZ_JNI jlong JNICALL Java_com_vev_media_codec_audio_mpa_MpegAudio_nConvertFrame(
    JNIEnv *env, jobject, jint handle, jbyteArray input, jint input_offset, jint input_length,
    jbyteArray output, jint output_offset, jint preceding_bytes)
{
    const mpa_convert_result r =
        convert_call(env, handle, input, input_offset, input_length, output, output_offset, preceding_bytes);
    const uint64_t count =
        r.needed > 0 ? static_cast<uint64_t>(r.needed) | (1ull << 31) : static_cast<uint64_t>(r.consumed);
    return static_cast<jlong>(count | (static_cast<uint64_t>(r.produced) << 32) |
                              (static_cast<uint64_t>(r.ok ? 1 : 0) << 48));
}

// After damage, rovaz's Java stream makes the decoder's next header search
// start afresh (the frame methods never do this themselves).
ROVAZ_JNI void JNICALL Java_com_vev_media_codec_audio_mpa_MpegAudio_nRestartSearch(JNIEnv *, jobject,
                                                                                   jint handle)
{
    mpa_decoder *dec = mpa_handle_acquire(handle);
    if (dec) {
        mpa_decoder_restart_search(dec);
        mpa_handle_release(handle);
    }
}

ROVAZ_JNI jstring JNICALL Java_com_vev_media_codec_audio_mpa_NativeLoader_nVersion(JNIEnv *env, jclass)
{
    return env->NewStringUTF(ROVAZ_VERSION);
}
