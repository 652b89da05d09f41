// Opening a system library at run time, for the transports that are loaded on first use.
#pragma once

#include <cstddef>
#include <span>

// Opens the library (by soname: LD_LIBRARY_PATH and the system's paths choose the file)
// and looks up every name, in order, into `found`; the same sizes. False, with `found`
// all null, when the library cannot be opened or any one name is missing: a library that
// lacks a function we call is no library for us. The handle is never closed: what was
// found stays valid, and the library's own threads run, as long as the process does.
bool OpenLibraryFunctions(const char* library, std::span<const char* const> names, std::span<void*> found);
