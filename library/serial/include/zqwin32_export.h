#pragma once
// What libzqwin32.so lets other modules see: it is built with hidden
// visibility, and only declarations marked with this macro leave it.
#define ZQWIN32_EXPORT __attribute__((visibility("default")))
