#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

#include "HostedWindow/HostedWindow.h"

class ArchiveHandler;
class UserAuth;

// The Archive window: what the user processed on the service in the last 30 days, with each result
// track offered again in any format. A result already in the save folder opens in the user's player;
// any other is fetched and converted by the download-and-convert window.
class Archive : public HostedWindow
{
    Q_OBJECT

public:
    explicit Archive(QWidget *parent = nullptr);
    ~Archive() override;

    // Shows the window and asks the service for the list anew.
    void openWindow();

    // The download-and-convert window; null until the first fetch. For tests.
    ArchiveHandler *handlerWindow() const { return handler.get(); }

signals:
    void updateFiles(QVariant files);
    void changeButtons(int idx, QString instrumentButton, QString mixButton);

public slots:
    void cancel();
    void openFolder();
    void operateFile(int id, bool isMix, const QString &newExtension);
    void changedFormat(int id, const QString &newExtension);
    void finishConverting();

protected:
    void fillDocument() override;

private:
    Q_DISABLE_COPY(Archive)

    void initQMLconnections();
    void loadList();
    void openResult(const QString &target, bool isVideo) const;
    QString resultPath(const QVariantMap &entry, bool isMix, const QString &extension) const;
    bool isKnownRow(int id) const;

    QVariantList files;
    std::unique_ptr<UserAuth> auth;
    std::unique_ptr<ArchiveHandler> handler;
    qint32 pendingIndex = -1;
    QString pendingFormat;
};
