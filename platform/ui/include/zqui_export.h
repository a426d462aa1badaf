#pragma once
// What libzqui.so lets other modules see: it is built with hidden
// visibility, and only declarations marked with this macro leave it.
#define ZQUI_EXPORT __attribute__((visibility("default")))
