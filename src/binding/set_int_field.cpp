#include "set_int_field.h"

int SetIntField(JNIEnv *env, jobject object, const char *name, jint value)
{
    if (!env || !object || !name)
        return -1;
    jclass cls = env->GetObjectClass(object);
    if (!cls) {
        env->ExceptionClear();
        return -1;
    }
    jfieldID field = env->GetFieldID(cls, name, "I");
    env->DeleteLocalRef(cls);
    if (!field) {
        env->ExceptionClear();  // NoSuchFieldError
        return -1;
    }
    env->SetIntField(object, field, value);
    return 0;
}
