// The version in both deliverables' version blocks. The build passes its
// four fields (project() in the top CMakeLists.txt), so it is written once.
#ifndef KESTOR_RESOURCES_VERSION_FIELDS_H
#define KESTOR_RESOURCES_VERSION_FIELDS_H

#if !defined(KESTOR_VERSION_MAJOR) || !defined(KESTOR_VERSION_MINOR) || \
    !defined(KESTOR_VERSION_PATCH) || !defined(KESTOR_VERSION_TWEAK)
#error "the build defines KESTOR_VERSION_MAJOR, _MINOR, _PATCH and _TWEAK"
#endif

#define KESTOR_VERSION_FIELDS \
    KESTOR_VERSION_MAJOR, KESTOR_VERSION_MINOR, KESTOR_VERSION_PATCH, KESTOR_VERSION_TWEAK

// The fields as text, "1, 0, 4, 0": each macro is expanded before it is
// turned into text.
#define KESTOR_AS_TEXT(...) #__VA_ARGS__
#define KESTOR_EXPANDED_AS_TEXT(...) KESTOR_AS_TEXT(__VA_ARGS__)
#define KESTOR_VERSION_TEXT KESTOR_EXPANDED_AS_TEXT(KESTOR_VERSION_FIELDS)

#endif  // KESTOR_RESOURCES_VERSION_FIELDS_H
