// The version comes from the build (CMake's project version), so that the
// library, the package files and the jar cannot disagree.
#include "rovaz/mpa.h"

// Builds of the sources on their own (fuzz/ as its own project) have no project version.
#ifndef ROVAZ_VERSION
#define ROVAZ_VERSION "0.0.0-unversioned"
#endif

const char *mpa_version(void)
{
    return ROVAZ_VERSION;
}
