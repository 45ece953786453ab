#pragma once

#include <QString>
#include <QStringList>

// The whole life of the program: start-up, event loop and shutdown. Returns the exit status.
int runZelk(int argc, char *argv[]);

// The documents folder's "Save", "Audio", "Logs" and "Temp"; false when one could not be made.
bool createSubFolders(const QString &documentsPath);

// The files named on the command line, as absolute paths.
QStringList filesOnCommandLine();

// The controller types that main.qml instantiates.
void registerQmlTypes();

void initLogging();
void closeLogging();
int implShowWarningMessageAndExit(const QString &message, uint status);
