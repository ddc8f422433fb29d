/* The machine-dependent part of jni.h for 32-bit Windows, used when the
 * library is cross-built with a JDK made for another system. */
#ifndef TARVIK_JNI_MD_H
#define TARVIK_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
