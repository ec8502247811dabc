#pragma once

// Exports an entry point of a stand-in plug-in built for the tests.
#if defined(_WIN32)
#define TEST_PLUGIN_ENTRY_POINT __declspec(dllexport)
#else
#define TEST_PLUGIN_ENTRY_POINT __attribute__((visibility("default")))
#endif
