#pragma once
// What libzqmodemkeys.so lets other modules see: it is built with hidden
// visibility, and only declarations marked with this macro leave it.
#define ZQMODEMKEYS_EXPORT __attribute__((visibility("default")))
