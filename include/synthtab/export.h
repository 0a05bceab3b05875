/*
 * synthtab: SYNTHTAB_API, the mark on every name of the library's interface.
 * The shared library exports these names and no others (ELF builds hide
 * everything else by default). On Windows the DLL is built with
 * SYNTHTAB_BUILD_DLL (dllexport), programs using it see dllimport (which data
 * such as decwin needs), and programs linking the static library define
 * SYNTHTAB_STATIC: the CMake target synthtab::synthtab_static and
 * `pkg-config --static --cflags synthtab` do that for you.
 *
 * Compiles as C99 and as C++.
 */
#ifndef SYNTHTAB_EXPORT_H
#define SYNTHTAB_EXPORT_H

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(SYNTHTAB_BUILD_DLL)
#define SYNTHTAB_API __declspec(dllexport)
#elif defined(SYNTHTAB_STATIC)
#define SYNTHTAB_API
#else
#define SYNTHTAB_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define SYNTHTAB_API __attribute__((visibility("default")))
#else
#define SYNTHTAB_API
#endif

#endif /* SYNTHTAB_EXPORT_H */
