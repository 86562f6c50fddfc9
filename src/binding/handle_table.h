// Maps the Java int handles to decoder instances. A handle carries a slot
// index and the slot's generation, so a closed or never-issued handle is
// recognised and never dereferenced. An instance is lent to one call at a
// time; closing one that is lent frees it when the call gives it back.
#ifndef ROVAZ_BINDING_HANDLE_TABLE_H
#define ROVAZ_BINDING_HANDLE_TABLE_H

#include <stdint.h>

struct mpa_decoder;

// Issues a handle (> 0) for dec, or 0 when the table is full.
int32_t mpa_handle_register(mpa_decoder *dec);
// Lends the instance of an open handle that no other call holds; null otherwise.
mpa_decoder *mpa_handle_acquire(int32_t handle);
// Gives back what mpa_handle_acquire lent.
void mpa_handle_release(int32_t handle);
// Closes an open handle; unknown and closed handles are ignored.
void mpa_handle_close(int32_t handle);

#endif
