#pragma once

#include <QString>

// The folders the user chooses, made ready when Settings saves them and again before a run writes
// into them, so that no run finds out at its end that its results have nowhere to go.
namespace FolderCheck {

enum class Use { Reading, Writing };

struct Outcome
{
    QString path; // the folder to store: "~" expanded, cleaned
    QString refusal; // empty when the folder is ready, otherwise the reason to show, naming it
};

// Creates the folder named `label` at `path`, with any missing parents, and checks that ZELK may
// use it as `use` says. A refusal ends with `advice`.
Outcome prepare(const QString &label, const QString &path, Use use,
    const QString &advice = QStringLiteral("Choose another folder."));

// The save folder checked before results are written into it: empty when it is ready.
QString saveFolderProblem(const QString &path);
// Title of the box that shows that problem.
QString saveFolderTitle();

} // namespace FolderCheck
