#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The name each setting is stored under in the settings file. Users' files hold these names, so they
// never change. C++ reads them through the static functions; the hosted documents read the ones
// their windows edit as properties of the `settingsKeys` object each window gives its document.
class SettingsKeys final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SettingsKeys)
    Q_PROPERTY(QString pathSave READ pathSave CONSTANT)
    Q_PROPERTY(QString pathOpen READ pathOpen CONSTANT)
    Q_PROPERTY(QString videoFormat READ videoFormat CONSTANT)
    Q_PROPERTY(QString audioFormat READ audioFormat CONSTANT)
    Q_PROPERTY(QString instrument READ instrument CONSTANT)
    Q_PROPERTY(QString videoPlayer READ videoPlayer CONSTANT)
    Q_PROPERTY(QString audioPlayer READ audioPlayer CONSTANT)
    Q_PROPERTY(QString guiScale READ guiScale CONSTANT)

public:
    explicit SettingsKeys(QObject *parent = nullptr);
    ~SettingsKeys() override;

    static QString pathSave();
    static QString pathOpen();
    static QString pathLogs();
    static QString pathTemp();
    static QString videoFormat();
    static QString audioFormat();
    static QString instrument();
    static QString videoPlayer();
    static QString audioPlayer();
    static QString guiScale();
    static QString publicKey();
    static QString sidebar();
    static QString serviceUrl();
    static QString probeUrl();
    static QString logFileEnabled();

    // What the Settings window edits, and so what restoring its defaults removes.
    static QStringList userChoices();
};
