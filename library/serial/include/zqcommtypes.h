#pragma once
// The types of the serial component: trace states, modem signals, flow
// control and the event signatures.
#include "zqtypes.h"

#include <cstdint>
#include <initializer_list>

// A set of enumeration members, bit n standing for ordinal n.
template <class E, class Bits> class TzqSet {
public:
    constexpr TzqSet() = default;
    constexpr TzqSet(std::initializer_list<E> members)
    {
        for (E e : members)
            bits_ |= Bit(e);
    }
    static constexpr TzqSet FromBits(Bits bits)
    {
        TzqSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr Bits ToBits() const { return bits_; }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Include(E e) { bits_ |= Bit(e); }
    constexpr bool operator==(const TzqSet&) const = default;
    constexpr TzqSet operator+(TzqSet o) const { return FromBits(static_cast<Bits>(bits_ | o.bits_)); }

private:
    static constexpr Bits Bit(E e) { return static_cast<Bits>(Bits(1) << static_cast<unsigned>(e)); }
    Bits bits_ = 0;
};

enum TTraceState : uint8_t {
    tsRxChar,
    tsRxFlag,
    tsTxEmpty,
    tsCTS,
    tsDSR,
    tsRLSD,
    tsBreak,
    tsErr,
    tsRing,
    tsRx80Full,
    tsEvent1,
    tsEvent2,
};
using TTraceStates = TzqSet<TTraceState, uint16_t>;

enum TModemSignal : uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = TzqSet<TModemSignal, uint8_t>;

enum TStreamProtocol : uint8_t { spNone, spXonXoff, spHardware };

// The COMSTAT hold flags as a set (bits 0 to 6 of its flag word).
enum TComStateFlag : uint8_t { fCtlHold, fDsrHold, fRlsHold, fXoffHold, fXOffSent, fEof, fTxim };
using TComStateFlags = TzqSet<TComStateFlag, uint8_t>;

// (Com, Event)
using TOnTraceEvent = TEvent<TObject*, TTraceStates>;
// (Com, CommCode, SysError, State, var flFlashBuffers)
using TOnCommErrorEvent = TEvent<TObject*, Cardinal, Cardinal, TComStateFlags, bool&>;
