#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every modal box as soon as it shows, recording "[title] text", so that code which asks the
// user something can run unattended under the offscreen platform.
class ModalBoxCloser : public QObject
{
    Q_OBJECT

public:
    // Which modal windows it closes: every one, or message boxes only, leaving a modal window under test open.
    enum class Scope { AnyModal, MessageBoxesOnly };

    explicit ModalBoxCloser(QObject *parent = nullptr, Scope scope = Scope::AnyModal);

    QStringList seen() const { return boxes; }
    void clear() { boxes.clear(); }

private:
    Q_DISABLE_COPY(ModalBoxCloser)
    void closeActiveBox();

    QTimer timer;
    Scope scope;
    QStringList boxes;
};
