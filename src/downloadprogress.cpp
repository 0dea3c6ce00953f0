#include "downloadprogress.h"

#include <cmath>

namespace downloadprogress {

namespace {

const QString kDash = QStringLiteral(" — ");

QString decimal(double value) {
    // One decimal while it says something; none from 100 on, where it would only flicker.
    const double tenths = std::round(value * 10.0);
    if (tenths >= 1000.0)
        return QString::number(qint64(std::round(value)));
    return QString::number(tenths / 10.0, 'f', 1).replace(u'.', u',');
}

} // namespace

QString size(qint64 bytes) {
    if (bytes < 1000)
        return QStringLiteral("%1 o").arg(std::max<qint64>(bytes, 0));
    static const char* const units[] = {"Ko", "Mo", "Go"};
    double value = double(bytes) / 1024.0;
    int unit = 0;
    // A value that would show as 1000 of a unit is shown in the next one.
    while (value >= 999.5 && unit < 2) {
        value /= 1024.0;
        ++unit;
    }
    return decimal(value) + u' ' + QLatin1String(units[unit]);
}

QString speed(double bytesPerSecond) {
    return size(qint64(std::llround(bytesPerSecond))) + QStringLiteral("/s");
}

QString timeLeft(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 1);
    if (seconds < 60)
        return seconds == 1 ? QStringLiteral("1 s restante")
                            : QStringLiteral("%1 s restantes").arg(seconds);
    const qint64 minutes = (seconds + 30) / 60;
    if (minutes < 60)
        return minutes == 1 ? QStringLiteral("1 min restante")
                            : QStringLiteral("%1 min restantes").arg(minutes);
    return QStringLiteral("%1 h %2 restantes")
        .arg(minutes / 60)
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

int retryWait(int failures, int first, int cap) {
    qint64 wait = std::max(first, 1);
    for (int i = 1; i < failures && wait < cap; ++i)
        wait *= 2;
    return int(std::min<qint64>(wait, cap));
}

void Rate::add(qint64 milliseconds, qint64 done) {
    if (samples.empty() || done > samples.back().second)
        lastByteAt = milliseconds;
    samples.emplace_back(milliseconds, done);
    // The oldest sample kept is the last one at or before the window's start: the average spans
    // the whole window.
    while (samples.size() > 2 && samples[1].first <= milliseconds - kWindow)
        samples.pop_front();
}

bool Rate::stalled() const {
    return !samples.empty() && samples.back().first - lastByteAt >= kStall;
}

bool Rate::known() const {
    return !samples.empty() && samples.back().first - samples.front().first >= kKnown &&
           !stalled() && bytesPerSecond() > 0;
}

double Rate::bytesPerSecond() const {
    if (samples.size() < 2)
        return 0;
    const qint64 span = samples.back().first - samples.front().first;
    if (span <= 0)
        return 0;
    return double(samples.back().second - samples.front().second) * 1000.0 / double(span);
}

qint64 Rate::secondsFor(qint64 left) const {
    if (!known())
        return -1;
    return qint64(std::ceil(double(std::max<qint64>(left, 0)) / bytesPerSecond()));
}

QString installLine(qint64 done, qint64 total, const Rate& rate) {
    QString line = QStringLiteral("Installation du jeu : %1 sur %2").arg(size(done), size(total));
    if (rate.stalled())
        return line + kDash + QStringLiteral("en attente du réseau");
    if (!rate.known())
        return line;
    return line + kDash + speed(rate.bytesPerSecond()) + kDash +
           timeLeft(rate.secondsFor(total - done));
}

QString waitingLine(qint64 millisecondsToNextTry) {
    const qint64 seconds = std::max<qint64>((millisecondsToNextTry + 999) / 1000, 1);
    return QStringLiteral("Installation du jeu : en attente du réseau (nouvel essai dans %1 s)")
        .arg(seconds);
}

} // namespace downloadprogress
