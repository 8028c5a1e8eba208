#include "../high/high.h"
#include "low.h"
