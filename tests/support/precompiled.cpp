// Compiles the precompiled header that the C++ test sources share.
