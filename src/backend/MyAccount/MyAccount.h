#pragma once

#include <QString>

#include <memory>

#include "HostedWindow/HostedWindow.h"

class UserAuth;

// The My Account window: shows the signed-in user's name and address, sends their changes to the
// service and changes the password. The document draws the views; this class answers its signals.
class MyAccount : public HostedWindow
{
    Q_OBJECT

public:
    explicit MyAccount(QWidget *parent = nullptr);
    ~MyAccount() override;

signals:
    void savedPersonalInfo(bool success);
    // Empty on success, otherwise the text for the password panel's error box.
    void updatedPassword(QString err);

public slots:
    void savePersonalInfo(const QString &name, const QString &email);
    void updatePassword(const QString &pass1, const QString &pass2, const QString &current_pass);
    void discard();
    void cancel();

protected:
    void fillDocument() override;

private:
    Q_DISABLE_COPY(MyAccount)

    void initQMLconnections();
    void showCachedInfo();

    std::unique_ptr<UserAuth> auth;
};
