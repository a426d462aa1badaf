#pragma once
// What libzqcommbox.so lets other modules see: it is built with hidden
// visibility, and only declarations marked with this macro leave it.
#define ZQCOMMBOX_EXPORT __attribute__((visibility("default")))
