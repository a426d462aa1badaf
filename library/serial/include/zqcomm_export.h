#pragma once
// What libzqcomm.so lets other modules see: it is built with hidden
// visibility, and only declarations marked with this macro leave it.
#define ZQCOMM_EXPORT __attribute__((visibility("default")))
