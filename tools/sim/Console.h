#pragma once
// The simulator's command line for a person: one command a line.

#include <QString>

namespace t5170::sim {

class PtySimulator;

class Console {
public:
    // linkPath is used again when `plug` follows an `unplug`.
    explicit Console(PtySimulator& sim, QString linkPath = {});
    // Runs one command and returns what to print (may be empty).
    QString execute(const QString& line);
    bool quitRequested() const { return quit_; }
    static QString help();

private:
    QString status() const;
    QString log() const;

    PtySimulator& sim_;
    QString linkPath_;
    bool quit_ = false;
};

} // namespace t5170::sim
