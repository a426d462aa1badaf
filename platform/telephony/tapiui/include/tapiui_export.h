#pragma once
// What libtapiui.so lets programs see: everything else in it is hidden.
#define ZQTAPIUI_EXPORT __attribute__((visibility("default")))
