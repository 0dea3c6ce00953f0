#pragma once

#include <QByteArray>
#include <QString>

// What a launcher built with a game runner (wine, for a Linux player) tells the player when the
// runner, not the game, is why the game does not run: a generic "(Code 1)" or "arrêté aussitôt"
// leaves a player with nothing to install.
namespace runnerdiagnosis {

// The runner as the game's start must name it: a bare name looked up in PATH, a path made
// absolute against the launcher's own folder (the game starts in its own folder, where a relative
// path would mean something else). Empty when there is no such program.
QString locate(const QString& runner);

// The status line's text for a runner that cannot be found.
QString missingRunnerNotice(const QString& runner);

// The status line's text for a runner that said it cannot run a 32-bit program.
QString no32BitNotice();

// errors.log's line for each, after the date and the game's own words (see GameSession).
QString missingRunnerNote(const QString& runner, const QString& program);
QString no32BitNote(const QString& runner);

} // namespace runnerdiagnosis

// Watches what the runner prints on its error output for its own words that it cannot run a
// 32-bit program. Holds no more than the longest of those words, however much it is given: a
// game may print for hours.
class RunnerOutput {
public:
    void read(const QByteArray& bytes);
    bool lacks32BitSupport() const { return lacking32Bit; }
    qsizetype heldBytes() const { return carry.size(); }

private:
    // The end of what was read, for words cut between two reads.
    QByteArray carry;
    bool lacking32Bit = false;
};
