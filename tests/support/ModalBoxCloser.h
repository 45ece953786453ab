#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// Closes every modal box as soon as it shows, recording "[title] text", so that code which asks the
// user something can run unattended under the offscreen platform.
class ModalBoxCloser : public QObject
{
    Q_OBJECT

public:
    // Which modal windows it closes: every one, or message boxes only, leaving a modal window under test
    // open.
    enum class Scope { AnyModal, MessageBoxesOnly };

    explicit ModalBoxCloser(QObject *parent = nullptr, Scope scope = Scope::AnyModal);

    QStringList seen() const { return boxes; }
    // The width each box had when it was closed, in the order of seen().
    QList<int> widths() const { return boxWidths; }
    void clear()
    {
        boxes.clear();
        boxWidths.clear();
    }
    // A box that offers this button is answered with it; any other box is closed, which answers a
    // question with its escape button.
    void answerWith(QMessageBox::StandardButton button) { answer = button; }

private:
    Q_DISABLE_COPY(ModalBoxCloser)
    void closeActiveBox();

    QTimer timer;
    Scope scope;
    QStringList boxes;
    QList<int> boxWidths;
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
};
