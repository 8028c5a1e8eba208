# high/ links low/, not the other way round.
set(KESTOR_FOLDERS low high)
set(KESTOR_ARROWS_low)
set(KESTOR_ARROWS_high low)
