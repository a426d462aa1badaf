#include "faketapi.h"

#include <cstring>

namespace {
FakeTapi state;
constexpr HLINEAPP kApp = 0x77;

FakeDevice* Device(DWORD id)
{
    return id < state.devices.size() ? &state.devices[id] : nullptr;
}

// Lines are numbered by device: line handle = device id + 1.
FakeDevice* LineDevice(HLINE line)
{
    return line == 0 ? nullptr : Device(line - 1);
}

LONG PutVar(VARSTRING* v, const void* data, DWORD size)
{
    v->dwNeededSize = sizeof(VARSTRING) + size;
    if (v->dwTotalSize < v->dwNeededSize) {
        v->dwUsedSize = sizeof(VARSTRING);
        v->dwStringSize = 0;
        return 0;
    }
    std::memcpy(reinterpret_cast<char*>(v) + sizeof(VARSTRING), data, size);
    v->dwUsedSize = v->dwNeededSize;
    v->dwStringOffset = sizeof(VARSTRING);
    v->dwStringSize = size;
    return 0;
}
void PostAll(const std::vector<FakeMessage>& messages)
{
    for (FakeMessage m : messages)
        FakePost(&state, m);
}

// A request completes with its reply, and the call states scripted for it
// follow at once (or come first).
LONG Request(LONG result, const std::vector<FakeMessage>& states)
{
    const LONG id = state.nextRequest++;
    if (state.statesBeforeReply)
        PostAll(states);
    FakePost(&state, { LINE_REPLY, DWORD_PTR(id), DWORD_PTR(DWORD(result)), 0, 0 });
    if (!state.statesBeforeReply)
        PostAll(states);
    return id;
}
} // namespace

extern "C" {

LONG lineMakeCallA(HLINE line, HCALL* call, LPCSTR address, DWORD, const LINECALLPARAMS*)
{
    if (!LineDevice(line))
        return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    state.dialled.push_back(address ? address : "");
    state.call = state.nextCall++;
    state.callState = LINECALLSTATE_DIALTONE;
    *call = state.call;
    return Request(state.makeCallReply, state.afterMakeCall);
}

LONG lineAnswer(HCALL call, LPCSTR, DWORD)
{
    if (state.answerResult < 0)
        return state.answerResult;
    state.call = call;
    return Request(0, state.afterAnswer);
}

LONG lineDrop(HCALL call, LPCSTR, DWORD)
{
    ++state.drops;
    std::vector<FakeMessage> states;
    if (state.dropGoesIdle)
        states.push_back({ LINE_CALLSTATE, LINECALLSTATE_IDLE, 0, 0, static_cast<DWORD>(call) });
    return Request(0, states);
}

LONG lineDeallocateCall(HCALL)
{
    ++state.deallocated;
    return 0;
}

LONG lineGetCallStatus(HCALL, LINECALLSTATUS* status)
{
    status->dwCallState = state.callState;
    return 0;
}

LONG lineTranslateAddressA(HLINEAPP, DWORD, DWORD, LPCSTR in, DWORD, DWORD, LINETRANSLATEOUTPUT* out)
{
    if (state.translateFails)
        return static_cast<LONG>(LINEERR_INVALADDRESS);
    const std::string dialable = in;
    const DWORD offset = sizeof(LINETRANSLATEOUTPUT);
    out->dwNeededSize = offset + static_cast<DWORD>(dialable.size()) + 1;
    if (out->dwTotalSize < out->dwNeededSize)
        return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
    std::memcpy(reinterpret_cast<char*>(out) + offset, dialable.c_str(), dialable.size() + 1);
    out->dwDialableStringOffset = offset;
    out->dwDialableStringSize = static_cast<DWORD>(dialable.size()) + 1;
    out->dwUsedSize = out->dwNeededSize;
    return 0;
}

FakeTapi* FakeTapiState()
{
    return &state;
}

LONG lineInitialize(HLINEAPP* app, HINSTANCE, LINECALLBACK callback, LPCSTR, DWORD* numDevs)
{
    ++state.initCalls;
    state.callback = callback;
    if (state.initResult < 0)
        return state.initResult;
    *app = kApp;
    *numDevs = static_cast<DWORD>(state.devices.size());
    return 0;
}

LONG lineShutdown(HLINEAPP)
{
    ++state.shutdownCalls;
    return 0;
}

LONG lineNegotiateAPIVersion(HLINEAPP, DWORD, DWORD, DWORD, DWORD* version, LINEEXTENSIONID*)
{
    *version = 0x00020000;
    return 0;
}

LONG lineOpen(
    HLINEAPP, DWORD id, HLINE* line, DWORD, DWORD, DWORD_PTR instance, DWORD, DWORD, const LINECALLPARAMS*)
{
    state.instance = instance;
    FakeDevice* d = Device(id);
    if (!d)
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    if (d->openFails)
        return static_cast<LONG>(LINEERR_RESOURCEUNAVAIL);
    *line = id + 1;
    ++state.openLines;
    return 0;
}

LONG lineClose(HLINE line)
{
    if (!LineDevice(line))
        return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    --state.openLines;
    return 0;
}

LONG lineGetIDA(HLINE line, DWORD, HCALL, DWORD, VARSTRING* v, LPCSTR cls)
{
    FakeDevice* d = LineDevice(line);
    if (!d)
        return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    const std::string c = cls;
    if (c == "comm/datamodem") {
        if (d->commFails)
            return static_cast<LONG>(LINEERR_NODEVICE);
        std::vector<char> data(4 + d->name.size() + 1);
        DWORD h = 0xFFFFFFFF;
        std::memcpy(data.data(), &h, 4);
        std::memcpy(data.data() + 4, d->name.c_str(), d->name.size() + 1);
        return PutVar(v, data.data(), static_cast<DWORD>(data.size()));
    }
    if (c == "comm/datamodem/portname") {
        if (d->portFails)
            return static_cast<LONG>(LINEERR_NODEVICE);
        return PutVar(v, d->port.c_str(), static_cast<DWORD>(d->port.size() + 1));
    }
    if (c == "wave/in/out") {
        if (!d->waveInOut)
            return static_cast<LONG>(LINEERR_NODEVICE);
        DWORD ids[2] = { d->waveIn, d->waveOut };
        return PutVar(v, ids, sizeof ids);
    }
    if (c == "wave/out" || c == "wave/in") {
        DWORD id = c == "wave/out" ? d->waveOut : d->waveIn;
        if (id == 0)
            return static_cast<LONG>(LINEERR_NODEVICE);
        return PutVar(v, &id, sizeof id);
    }
    return static_cast<LONG>(LINEERR_INVALDEVICECLASS);
}

LONG lineGetDevCapsA(HLINEAPP, DWORD id, DWORD, DWORD, LINEDEVCAPS* caps)
{
    FakeDevice* d = Device(id);
    if (!d)
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    caps->dwBearerModes = d->bearerModes;
    caps->dwMediaModes = d->mediaModes;
    return 0;
}

LONG lineGetDevConfigA(DWORD id, VARSTRING* v, LPCSTR)
{
    FakeDevice* d = Device(id);
    if (!d)
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    if (d->getConfigFails)
        return static_cast<LONG>(LINEERR_OPERATIONFAILED);
    return PutVar(v, d->config.data(), static_cast<DWORD>(d->config.size()));
}

LONG lineSetDevConfigA(DWORD id, const void* config, DWORD size, LPCSTR)
{
    FakeDevice* d = Device(id);
    if (!d)
        return static_cast<LONG>(LINEERR_BADDEVICEID);
    ++d->setConfigCalls;
    const auto* p = static_cast<const unsigned char*>(config);
    d->config.assign(p, p + size);
    return 0;
}

LONG lineConfigDialogA(DWORD, HWND, LPCSTR)
{
    return 0;
}

} // extern "C"
