#pragma once
// What libzqcommtapi.so lets other modules see: it is built with hidden
// visibility, and only declarations marked with this macro leave it.
#define ZQCOMMTAPI_EXPORT __attribute__((visibility("default")))
