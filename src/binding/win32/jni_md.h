/* The machine-dependent part of jni.h for 64-bit Windows, for building the
 * JNI library with a JDK that is not a Windows one: the JNI types at
 * Windows' sizes (long is 32 bits there, so jint is long as in Windows JDKs
 * and jlong a 64-bit integer), exports by dllexport, and the stdcall
 * convention, which x86-64 ignores. */
#ifndef ROVAZ_BINDING_WIN32_JNI_MD_H
#define ROVAZ_BINDING_WIN32_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
