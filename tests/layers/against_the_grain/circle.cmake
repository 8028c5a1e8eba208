# Each links the other.
set(KESTOR_FOLDERS low high)
set(KESTOR_ARROWS_low high)
set(KESTOR_ARROWS_high low)
