#pragma once
// A device a component can open, as shown in device lists.
#include "zqcomponent.h"

#include <string>

class TzqBaseIO;

class TzqDevice : public TPersistent {
public:
    int Index = -1;
    TzqBaseIO* Owner = nullptr;
    std::string Name;
};
