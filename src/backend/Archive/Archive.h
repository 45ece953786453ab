#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

#include "HostedWindow/HostedWindow.h"
#include "ResultRecord.h"

class ArchiveHandler;
class UserAuth;

// The Archive window: what the user processed on the service in the last 30 days, with each result
// track offered again in any format. A row opens only the files its own song produced (the result
// record says which); any other is fetched from the service by the download-and-convert window.
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
    // Files may have come or gone while the window was away: each row looks at the disk again.
    bool event(QEvent *event) override;

private:
    Q_DISABLE_COPY(Archive)

    void initQMLconnections();
    void loadList();
    void refreshRows();
    std::optional<ResultRecord::Song> recordedSong(const QVariantMap &entry) const;
    // The row's own result of that kind and format when it is on disk, else empty.
    QString ownFile(const QVariantMap &entry, bool isMix, const QString &format) const;
    // The video whose picture a video format of the row keeps: the source, or the row's own video result.
    QString pictureFor(const QVariantMap &entry) const;
    // The first free name for a new result, numbered like the processing window's pairs.
    QString freeTarget(const QVariantMap &entry, bool isMix, const QString &format) const;
    QString resultPath(const QVariantMap &entry, bool isMix, const QString &format, int number) const;
    bool isKnownRow(int id) const;

    QVariantList files;
    std::unique_ptr<UserAuth> auth;
    std::unique_ptr<ArchiveHandler> handler;
    ResultRecord record;
    qint32 pendingIndex = -1;
    QString pendingFormat;
    bool pendingIsMix = false;
    QString pendingTarget;
    QVariantMap pendingEntry;
};
