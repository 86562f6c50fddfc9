// Sets an object's int field by name. A missing field clears the pending
// Java exception and reports -1, so callers can go on with the next field.
#ifndef ROVAZ_BINDING_SET_INT_FIELD_H
#define ROVAZ_BINDING_SET_INT_FIELD_H

#include <jni.h>

int SetIntField(JNIEnv *env, jobject object, const char *name, jint value);

#endif
