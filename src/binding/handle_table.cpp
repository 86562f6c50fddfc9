#include "handle_table.h"

#include "rovaz/mpa.h"

namespace {

mpa_handle_table<mpa_decoder, mpa_decoder_close> &decoders()
{
    static mpa_handle_table<mpa_decoder, mpa_decoder_close> t;
    return t;
}

}  // namespace

int32_t mpa_handle_register(mpa_decoder *dec)
{
    return decoders().issue(dec);
}

mpa_decoder *mpa_handle_acquire(int32_t handle)
{
    return decoders().acquire(handle);
}

void mpa_handle_release(int32_t handle)
{
    decoders().release(handle);
}

void mpa_handle_close(int32_t handle)
{
    decoders().close(handle);
}
