#pragma once

#include <QQuickWidget>
#include <QSize>
#include <QString>
#include <QUrl>

class GlobalsInfo;

// A top-level window that hosts one QML document from the resources. It opens at its base size
// times the GUI scale, talks to the document only through the root object, and hides itself on
// close, emitting showParent() so that the main window can come back.
class HostedWindow : public QQuickWidget
{
    Q_OBJECT

public:
    struct Description
    {
        QString title;
        QUrl document;
        QSize baseSize;
        bool resizable = false; // resizable windows fix only their minimum size
        Qt::WindowFlags flags
            = Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint;
    };

    explicit HostedWindow(const Description &description, QWidget *parent = nullptr);
    ~HostedWindow() override;

    // Opens the window for documents that need nothing but the scale.
    void openWindow();

    // The scale the window was last shown at, which may be below the chosen one on a small screen.
    double guiScale() const { return scf; }

    // The largest scale, in hundredths and not above `chosen`, at which `base` fits into `available`.
    // A scale that is not positive counts as the default, 1.
    static double fittingScale(const QSize &base, double chosen, const QSize &available);

signals:
    void showParent();
    void loaded();

protected:
    // Sizes the window, hands the scale to the document, runs fillDocument(), shows and raises it.
    void showScaled();
    // Fixes the window's size for `chosen`, or for the largest scale below it that fits the screen,
    // and hands the scale used to the document.
    void applyScale(double chosen);
    // The place where a window writes its own root properties before it is shown.
    virtual void fillDocument() { }

    // String-based connections by signature text, tolerant of a document that failed to load.
    bool connectToRoot(const char *signal);
    bool connectFromRoot(const char *rootSignal, const char *slot);

    void closeEvent(QCloseEvent *event) override;

    GlobalsInfo *globals = nullptr;
    QObject *root = nullptr;

private:
    Q_DISABLE_COPY(HostedWindow)

    Description description;
    double scf = 1;
};
