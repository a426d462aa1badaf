#pragma once
// The component framework: base I/O component, data processors, the log
// sink interface, the I/O thread and the timer.
#include "zqbaseio.h"
#include "zqcomponent.h"
#include "zqdataprocessor.h"
#include "zqdevice.h"
#include "zqformat.h"
#include "zqformstream.h"
#include "zqlogfile.h"
#include "zqnotifylist.h"
#include "zqthreadio.h"
#include "zqtimer.h"
#include "zqtypes.h"
