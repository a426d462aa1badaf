#pragma once
// A device a component can open, as shown in device lists.
#include "zqclasses_export.h"
#include "zqcomponent.h"

#include <string>

class TzqBaseIO;

class ZQCLASSES_EXPORT TzqDevice : public TPersistent {
public:
    int Index = -1;
    TzqBaseIO* Owner = nullptr;
    std::string Name;
};
