/* Defines the identifiers that kestor_interface.h declares, once per binary. */
#include <initguid.h>
#include "kestor_interface.h"
