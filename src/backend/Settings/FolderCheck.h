#pragma once

#include <QString>

// The folders the Settings window holds, made ready before they are saved, so that no later run
// finds out at its end that its results have nowhere to go.
namespace FolderCheck {

enum class Use { Reading, Writing };

struct Outcome
{
    QString path; // the folder to store: "~" expanded, cleaned
    QString refusal; // empty when the folder is ready, otherwise the reason to show, naming it
};

// Creates the folder named `label` at `path`, with any missing parents, and checks that ZELK may
// use it as `use` says.
Outcome prepare(const QString &label, const QString &path, Use use);

} // namespace FolderCheck
