#pragma once

#include <QString>
#include <QtGlobal>

#include <deque>
#include <utility>

// What the status line says of a long download: sizes, speed and time left in French, the speed
// smoothed over a few seconds so that it does not jump with every piece, and the waits between
// tries while the network is gone.
namespace downloadprogress {

// "512 o", "840 Ko", "11,4 Mo", "3,1 Go": a decimal comma, one decimal under 100 of the unit.
QString size(qint64 bytes);
// "11,4 Mo/s".
QString speed(double bytesPerSecond);
// "45 s restantes", "1 min restante", "18 min restantes", "1 h 05 restantes".
QString timeLeft(qint64 seconds);

// The wait before the try that follows `failures` failed ones in a row (1 for the first):
// `first`, then twice as long at each failure, never beyond `cap`.
int retryWait(int failures, int first, int cap);

// The bytes of a download over time, for its speed: what came over the last few seconds. A
// sample at each tick of the status line is enough; every sample may be given.
class Rate {
public:
    // The speed is the average over the last `window` milliseconds; it is known once samples
    // span `known` milliseconds; no byte for `stall` milliseconds is a stall.
    static constexpr qint64 kWindow = 5000;
    static constexpr qint64 kKnown = 2000;
    static constexpr qint64 kStall = 3000;

    // `done`: every byte so far, at `milliseconds` on a clock of the caller's.
    void add(qint64 milliseconds, qint64 done);
    // Starts again, as a new download (the network came back).
    void reset() { samples.clear(); }
    // Whether enough is known for a speed that says something, and bytes are still coming.
    bool known() const;
    bool stalled() const;
    double bytesPerSecond() const;
    // Seconds until `left` more bytes have come at this speed; -1 when the speed is not known.
    qint64 secondsFor(qint64 left) const;

private:
    std::deque<std::pair<qint64, qint64>> samples; // (milliseconds, bytes done)
    qint64 lastByteAt = 0;                         // when the bytes done last grew
};

// "Installation du jeu : 3,1 Go sur 15,2 Go — 11,4 Mo/s — 18 min restantes"; without speed and
// time until they are known; "… — en attente du réseau" when nothing comes.
QString installLine(qint64 done, qint64 total, const Rate& rate);
// "Installation du jeu : en attente du réseau (nouvel essai dans 8 s)".
QString waitingLine(qint64 millisecondsToNextTry);

} // namespace downloadprogress
