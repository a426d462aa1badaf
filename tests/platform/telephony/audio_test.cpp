// What one line plays arrives at the connected line's wave-in.
#include "mmsystem.h"
#include "tapitest.h"
#include "testaudio.h"
#include "waveheaderflags.h"

#include <algorithm>

TEST_F(TapiTest, AudioPlayedIntoOneLineIsRecordedOnTheOther)
{
    Register();
    HLINE one = Open(0, kInst1, LINECALLPRIVILEGE_NONE);
    HLINE two = Open(1, kInst2, LINECALLPRIVILEGE_NONE);
    VarBlock w1, w2;
    ASSERT_EQ(lineGetID(one, 0, 0, LINECALLSELECT_LINE, w1.Var(), "wave/out"), 0);
    ASSERT_EQ(lineGetID(two, 0, 0, LINECALLSELECT_LINE, w2.Var(), "wave/in"), 0);
    Dial(one, "1002/rings=0");
    ASSERT_TRUE(MessageLog::Get().WaitState(kInst1, LINECALLSTATE_CONNECTED));

    const WAVEFORMATEX fmt = zqtest::Pcm(8000, 1, 16);

    HWAVEIN in = nullptr;
    ASSERT_EQ(waveInOpen(&in, w2.Dword(0), &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<std::vector<char>> recBuffers(8, std::vector<char>(3200));
    std::vector<WAVEHDR> recHeaders(recBuffers.size());
    for (size_t i = 0; i < recBuffers.size(); ++i) {
        recHeaders[i].lpData = recBuffers[i].data();
        recHeaders[i].dwBufferLength = DWORD(recBuffers[i].size());
        ASSERT_EQ(waveInPrepareHeader(in, &recHeaders[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(in, &recHeaders[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);

    HWAVEOUT out = nullptr;
    ASSERT_EQ(waveOutOpen(&out, w1.Dword(0), &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<char> tone(3200);
    for (size_t i = 0; i < tone.size(); i += 2) {
        tone[i] = 0x34;
        tone[i + 1] = 0x12;
    }
    WAVEHDR play {};
    play.lpData = tone.data();
    play.dwBufferLength = DWORD(tone.size());
    ASSERT_EQ(waveOutPrepareHeader(out, &play, sizeof play), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &play, sizeof play), MMSYSERR_NOERROR);

    // The tone shows up in the recording once it has been played out.
    auto heard = [&] {
        for (const WAVEHDR& h : recHeaders)
            if (zq::wave::HeaderFlags(h) & WHDR_DONE) {
                const char* p = h.lpData;
                for (DWORD i = 0; i + 1 < h.dwBytesRecorded; i += 2)
                    if (p[i] == 0x34 && p[i + 1] == 0x12)
                        return true;
            }
        return false;
    };
    EXPECT_TRUE(zqtest::WaitUntil(heard));

    waveOutReset(out);
    waveOutUnprepareHeader(out, &play, sizeof play);
    waveOutClose(out);
    waveInReset(in);
    for (WAVEHDR& h : recHeaders)
        waveInUnprepareHeader(in, &h, sizeof(WAVEHDR));
    waveInClose(in);
}
